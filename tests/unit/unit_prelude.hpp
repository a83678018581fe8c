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

}  // namespace brq_install
