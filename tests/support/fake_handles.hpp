#pragma once
// The handles a fake of the system hands out: values that no real handle or
// pointer can take (outside the x64 address range), each with what it was
// opened for. Closings are counted, and at its end the fake checks that
// every handle it gave out was closed once.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <utility>

namespace brq_install::test {

template <typename Handle, typename Opened>
class fake_handles {
 public:
  fake_handles(uintptr_t first, const char* what) : first_(first), next_(first), what_(what) {}
  ~fake_handles() {
    EXPECT_EQ(live_handles(), 0) << what_ << " handles left open";
    EXPECT_EQ(bad_closes, 0) << what_ << " handles closed that were not open";
  }

  int opened = 0;
  int closed = 0;
  int bad_closes = 0;  // closings of a handle not, or no longer, open
  int live_handles() const { return opened - closed; }
  bool balanced() const { return live_handles() == 0 && bad_closes == 0; }

  Handle hand_out(Opened opened_for) {
    auto value = reinterpret_cast<Handle>(next_ += 4);
    handles_.emplace(value, std::move(opened_for));
    ++opened;
    return value;
  }
  Opened* lookup(Handle handle) {
    auto it = handles_.find(handle);
    return it != handles_.end() ? &it->second : nullptr;
  }
  bool close(Handle handle) {  // false, and counted, for a handle not open
    bool open = handles_.erase(handle) != 0;
    ++(open ? closed : bad_closes);
    return open;
  }
  template <typename Visit>
  void each_open(Visit visit) const {  // what every open handle was opened for
    for (const auto& [handle, opened_for] : handles_) visit(opened_for);
  }
  bool owns(Handle handle) const {  // one of this fake's values, open or not
    auto value = reinterpret_cast<uintptr_t>(handle);
    return value > first_ && value <= next_;
  }

 private:
  uintptr_t first_, next_;
  const char* what_;
  std::map<Handle, Opened> handles_;
};

}  // namespace brq_install::test
