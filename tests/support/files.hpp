#pragma once
// Plain file helpers for tests.
#include <string>

namespace brq_install::testing {

std::string read_file(const std::wstring& path);  // empty when missing
std::wstring temp_file_path();                    // a new empty file
}  // namespace brq_install::testing
