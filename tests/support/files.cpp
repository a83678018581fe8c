#include "files.hpp"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace brq_install::test {

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

temp_tree::temp_tree(const std::wstring& suffix) : placeholder_(temp_file_path()), root_(placeholder_ + suffix) {
  CreateDirectoryW(root_.c_str(), nullptr);
}

temp_tree::~temp_tree() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(root_), ignored);
  DeleteFileW(placeholder_.c_str());
}

std::wstring temp_tree::file(const std::wstring& name) const {
  std::wstring path = root_ + L"\\" + name;
  CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  return path;
}

std::wstring temp_tree::directory(const std::wstring& name) const {
  std::wstring path = root_ + L"\\" + name;
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

}  // namespace brq_install::test
