#include "argument_arrays.hpp"

#include <gtest/gtest.h>

namespace brq_install::testing {

argument_arrays* argument_arrays::current = nullptr;

namespace {

decltype(win::api.CommandLineToArgvW) previous_split;
decltype(win::api.LocalFree) previous_free;

wchar_t** WINAPI split(const wchar_t* command_line, int* count) {
  wchar_t** arguments = previous_split(command_line, count);
  if (arguments != nullptr) {
    argument_arrays::current->live.insert(arguments);
    ++argument_arrays::current->handed_out;
  }
  return arguments;
}

HLOCAL WINAPI local_free(HLOCAL memory) {
  argument_arrays::current->live.erase(memory);
  return previous_free(memory);
}

}  // namespace

argument_arrays::argument_arrays() {
  current = this;
  previous_split = win::api.CommandLineToArgvW;
  previous_free = win::api.LocalFree;
  win::api.CommandLineToArgvW = &split;
  win::api.LocalFree = &local_free;
}

argument_arrays::~argument_arrays() {
  EXPECT_TRUE(live.empty()) << live.size() << " argument arrays not freed";
  current = nullptr;
}

}  // namespace brq_install::testing
