#pragma once
// Scoped replacement of platform table entries. The destructor restores what
// was there before, so a test leaves the table as it found it.
#include "win/platform.hpp"

namespace brq_install::test {

// Replaces one entry: scoped_override guard(win::api.Sleep, fake_sleep);
template <typename Function>
class scoped_override {
 public:
  scoped_override(Function& slot, Function replacement) : slot_(slot), saved_(slot) { slot_ = replacement; }
  ~scoped_override() { slot_ = saved_; }
  scoped_override(const scoped_override&) = delete;
  scoped_override& operator=(const scoped_override&) = delete;

 private:
  Function& slot_;
  Function saved_;
};

// Saves the whole table and restores it at the end of the scope, for tests
// that replace many entries.
class scoped_platform {
 public:
  scoped_platform() : saved_(win::api) {}
  ~scoped_platform() { win::api = saved_; }
  scoped_platform(const scoped_platform&) = delete;
  scoped_platform& operator=(const scoped_platform&) = delete;

 private:
  win::platform_table saved_;
};

}  // namespace brq_install::test
