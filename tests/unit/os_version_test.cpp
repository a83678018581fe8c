// The Windows version and its generation class: thresholds, names, which
// payload files apply where, and reading ntdll.dll's version, failing or not.
#include "unit_prelude.hpp"

#include <cstring>

#include "os_version.hpp"

namespace brq_install {
namespace {

TEST(os_class, classifies_at_and_around_every_threshold) {
  struct {
    os_version version;
    crt_flavour expected;
  } cases[] = {
      {{4, 65535, 65535, 65535}, crt_flavour::nt4}, {{5, 0, 0, 0}, crt_flavour::w2k},
      {{5, 1, 2599, 65535}, crt_flavour::w2k},      {{5, 1, 2600, 5511}, crt_flavour::w2k},
      {{5, 1, 2600, 5512}, crt_flavour::xpsp3},     {{6, 0, 65535, 65535}, crt_flavour::xpsp3},
      {{6, 1, 0, 0}, crt_flavour::current},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text_of(c.version));
    EXPECT_EQ(os_class(c.version), c.expected);
  }
}

TEST(applies_to_os, answers_for_every_generation_and_every_file_value) {
  // One character per file value 0 to 9: '1' where the file applies.
  struct {
    os_version version;
    const char* applies;
  } cases[] = {
      {{4, 0, 1381, 0}, "1110000000"},      // nt4
      {{5, 1, 2600, 5511}, "1011100000"},   // w2k
      {{6, 0, 6002, 18005}, "1010111000"},  // xpsp3
      {{10, 0, 19041, 1}, "1010101100"},    // current
  };
  for (const auto& c : cases) {
    install_plan plan;
    plan.os = c.version;
    plan.crt = crt_flavour::unknown;  // the answer follows the version itself
    for (uint32_t value = 0; value <= 9; ++value) {
      SCOPED_TRACE(text_of(c.version) + " file crt " + std::to_string(value));
      payload_file file;
      file.crt = static_cast<crt_flavour>(value);
      EXPECT_EQ(applies_to_os(file, plan), c.applies[value] == '1');
    }
  }
}

// Fakes of the three version functions, answering from a block that holds
// only a marker; the root query hands out `fixed`.
constexpr DWORD block_size = 64;
constexpr unsigned char block_marker = 0xA5;
VS_FIXEDFILEINFO fixed{};
DWORD failing_call = 0;  // 1 size, 2 read, 3 query; 0 none
std::vector<std::wstring> files_asked;
std::wstring sub_block_asked;
bool query_saw_the_block = false;

DWORD WINAPI fake_size(LPCWSTR file, LPDWORD) {
  files_asked.push_back(file);
  if (failing_call == 1) {
    ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  return block_size;
}

BOOL WINAPI fake_read(LPCWSTR file, DWORD, DWORD size, LPVOID data) {
  files_asked.push_back(file);
  if (failing_call == 2 || size < block_size) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(data, block_marker, block_size);
  return TRUE;
}

BOOL WINAPI fake_query(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length) {
  sub_block_asked = sub_block;
  query_saw_the_block = *static_cast<const unsigned char*>(block) == block_marker;
  if (failing_call == 3) {
    ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  *value = &fixed;
  *length = sizeof fixed;
  return TRUE;
}

struct os_version_test : ::testing::Test {
  test::scoped_platform platform;
  void SetUp() override {
    win::api.GetFileVersionInfoSizeW = &fake_size;
    win::api.GetFileVersionInfoW = &fake_read;
    win::api.VerQueryValueW = &fake_query;
    failing_call = 0;
    files_asked.clear();
    sub_block_asked.clear();
    query_saw_the_block = false;
    fixed = {};
    fixed.dwSignature = VS_FFI_SIGNATURE;
  }
};

TEST_F(os_version_test, takes_the_file_version_of_ntdll_word_by_word_and_prints_one_plain_line) {
  fixed.dwFileVersionMS = MAKELONG(0, 10);     // 10.0
  fixed.dwFileVersionLS = MAKELONG(1, 19041);  // .19041.1
  fixed.dwProductVersionMS = MAKELONG(3, 6);   // a product version that differs
  fixed.dwProductVersionLS = MAKELONG(17031, 9600);
  console_recorder console;
  install_plan plan = build_install_plan();
  detect_os(plan);
  EXPECT_EQ(text_of(plan.os), "10.0.19041.1");
  EXPECT_EQ(plan.crt, crt_flavour::current);
  EXPECT_EQ(console.runs(), (std::vector<run>{{"os 10.0.19041.1 => crt \"current\"\n", plain}}));
  EXPECT_EQ(files_asked, (std::vector<std::wstring>{L"ntdll.dll", L"ntdll.dll"}));
  EXPECT_EQ(sub_block_asked, L"\\");
  EXPECT_TRUE(query_saw_the_block);
}

TEST_F(os_version_test, any_failing_call_gives_zeros_and_the_run_goes_on_as_nt4) {
  fixed.dwFileVersionMS = MAKELONG(0, 10);
  for (DWORD call : {1, 2, 3}) {
    SCOPED_TRACE(call);
    failing_call = call;
    DWORD error = 0;
    EXPECT_EQ(text_of(read_version(&error)), "0.0.0.0");
    EXPECT_EQ(error, call == 2 ? ERROR_INSUFFICIENT_BUFFER : ERROR_RESOURCE_TYPE_NOT_FOUND);

    console_recorder console;
    install_plan plan = build_install_plan();
    plan.os = {6, 1, 0, 0};
    detect_os(plan);
    EXPECT_EQ(text_of(plan.os), "0.0.0.0");
    EXPECT_EQ(plan.crt, crt_flavour::nt4);
    EXPECT_EQ(console.runs(), (std::vector<run>{{"os 0.0.0.0 => crt \"nt4\"\n", plain}}));
  }
}

}  // namespace
}  // namespace brq_install
