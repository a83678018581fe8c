#pragma once
// The product's plan as a run settles it on Windows 10, for the step tests.
#include <string>

#include "destination.hpp"
#include "install_plan.hpp"

namespace brq_install::test {

// The three files placed in `destination`.
inline install_plan product_plan(const std::wstring& destination) {
  install_plan plan = build_install_plan();
  plan.os = {10, 0, 19045, 0};
  plan.destination = destination;
  place_files(plan);
  return plan;
}

}  // namespace brq_install::test
