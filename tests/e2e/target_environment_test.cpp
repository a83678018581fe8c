// The installer's view of its system, run as a child process the way a user
// runs it: from a download folder where someone has left a version.dll.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace brq_install {
namespace {

using test::run_child;

// The build passes Unix paths; Wine shows the Unix root as drive Z:.
std::wstring windows_path(const std::string& unix_path) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

// The file version of the system's ntdll.dll, read here independently.
std::string ntdll_file_version() {
  DWORD size = GetFileVersionInfoSizeW(L"ntdll.dll", nullptr);
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoW(L"ntdll.dll", 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
    return "<unreadable>";
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// A new folder holding a copy of the installer, a copy of this test program
// (which imports version.dll) and the planted version.dll; removed at the end.
struct download_folder {
  std::wstring path;
  std::vector<std::wstring> files;

  download_folder() {
    wchar_t temp[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"dl", 0, name);
    DeleteFileW(name);
    path = name;
    CreateDirectoryW(path.c_str(), nullptr);
    add(test::installer_path(), L"qzv.ua.brq.install.exe");
    add(windows_path(BRQ_PLANTED_VERSION_DLL), L"version.dll");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    add(self, L"imports_version.exe");
  }
  ~download_folder() {
    for (const auto& file : files) DeleteFileW(file.c_str());
    RemoveDirectoryW(path.c_str());
  }
  void add(const std::wstring& source, const wchar_t* name) {
    files.push_back(path + L"\\" + name);
    if (!CopyFileW(source.c_str(), files.back().c_str(), FALSE)) {
      ADD_FAILURE() << "cannot copy " << test::wide_for_trace(source) << ", error " << GetLastError();
    }
  }
  std::wstring command(const wchar_t* name, const wchar_t* arguments = L"") const {
    return L"\"" + path + L"\\" + name + L"\"" + arguments;
  }
};

// Windows searches a program's own folder first for a DLL that is not a
// KnownDLL; Wine prefers its built-in version.dll unless told otherwise. For
// the named programs, Wine is told (in its per-program settings, which it
// reads when a process starts) to take a native version.dll first, as Windows
// would; the settings go when the test ends.
struct native_version_dll_first {
  std::vector<std::wstring> keys;
  explicit native_version_dll_first(std::initializer_list<const wchar_t*> programs) {
    for (const wchar_t* program : programs) {
      keys.push_back(std::wstring(L"Software\\Wine\\AppDefaults\\") + program);
      std::wstring key = keys.back() + L"\\DllOverrides";
      const wchar_t value[] = L"native,builtin";
      LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"version", REG_SZ, value, sizeof value);
      if (status != ERROR_SUCCESS) ADD_FAILURE() << "cannot set the DLL override, error " << status;
    }
  }
  ~native_version_dll_first() {
    for (const auto& key : keys) RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  }
};

TEST(target_environment, plain_run_prints_the_version_and_the_destination) {
  download_folder folder;
  native_version_dll_first native({L"qzv.ua.brq.install.exe", L"imports_version.exe"});

  // The folder does catch a program that imports version.dll.
  auto control = run_child(folder.command(L"imports_version.exe", L" --gtest_list_tests"));
  EXPECT_EQ(control.out, "planted version.dll loaded\n");
  EXPECT_EQ(control.exit_code, 86u);

  auto result = run_child(folder.command(L"qzv.ua.brq.install.exe"));
  std::string version = ntdll_file_version();
  std::string expected = "os " + version + " => crt \"current\"\r\n" +
                         "Destination: C:\\Program Files\\Quorvanta\\QZV.UA\\brq\r\n";
  // Later steps follow these two lines.
  EXPECT_EQ(result.out.substr(0, expected.size()), expected) << result.out;
  EXPECT_EQ(result.out.find("planted"), std::string::npos);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_code, 0u);
}

}  // namespace
}  // namespace brq_install
