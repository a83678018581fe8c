#include "files.hpp"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace brq_install::testing {

std::string read_file(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring temp_file_path() {
  wchar_t directory[MAX_PATH];
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, directory);
  GetTempFileNameW(directory, L"brq", 0, path);
  return path;
}

}  // namespace brq_install::testing
