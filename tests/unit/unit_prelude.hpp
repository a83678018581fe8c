#pragma once
// What every unit test file starts from: GoogleTest, the support most of them
// use (the console recorder, temporary files, the product's plan, the ledger,
// the platform overrides, the fake clock), and the short names their checks
// are written with. The unit tests never call the product's run(), whose name
// `run` takes here; the sweeps drive that.
#include <gtest/gtest.h>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "fake_clock.hpp"
#include "files.hpp"
#include "install_plan.hpp"
#include "ledger.hpp"
#include "platform_override.hpp"
#include "product_plan.hpp"

namespace brq_install {

using test::console_recorder;
using test::text_of;
using win::api;
using run = console_recorder::run;  // a piece of output in one colour
constexpr WORD plain = console_recorder::plain;

inline std::string text_of(const os_version& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
         std::to_string(v.revision);
}

// ntdll.dll's version as the product reads it; the read's code in `error`.
inline os_version read_version(DWORD* error = nullptr) {
  os_version v{1, 2, 3, 4};
  DWORD code = get_os_version(v);
  if (error) *error = code;
  return v;
}

}  // namespace brq_install
