// Every unit test runs inside a ledger: a handle, a service handle, local
// memory or a COM apartment that the code under test takes through the
// platform table and does not give back fails the test that took it.
#include "unit_prelude.hpp"

#include <memory>

namespace {

class ledger_per_test : public ::testing::EmptyTestEventListener {
  std::unique_ptr<brq_install::test::ledger> books_;

  void OnTestStart(const ::testing::TestInfo&) override { books_ = std::make_unique<brq_install::test::ledger>(); }
  void OnTestEnd(const ::testing::TestInfo&) override {
    EXPECT_EQ(books_->unbalanced(), "");
    books_.reset();
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ledger_per_test);
  return RUN_ALL_TESTS();
}
