// What the built image carries: its version block and its manifest.
#include <gtest/gtest.h>

#include <vector>

#include "child_process.hpp"

namespace brq_install {
namespace {

using testing::installer_path;

std::wstring version_string(const std::vector<char>& block, const wchar_t* name) {
  std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return L"<missing>";
  }
  return std::wstring(value, length > 0 ? length - 1 : 0);
}

TEST(installer_image, version_block_names_the_product) {
  std::wstring path = installer_path();
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);

  EXPECT_EQ(version_string(block, L"CompanyName"), L"Quorvanta");
  EXPECT_EQ(version_string(block, L"ProductName"), L"QZV OPC UA");
  EXPECT_EQ(version_string(block, L"FileDescription"), L"qzv BRQ installer 1.0.0.0, 64-bit");
  EXPECT_EQ(version_string(block, L"OriginalFilename"), L"qzv.ua.brq.install.exe");
  EXPECT_EQ(version_string(block, L"FileVersion"), L"1.0.0.0");
  EXPECT_EQ(version_string(block, L"ProductVersion"), L"1.0.0.0");
}

TEST(installer_image, manifest_runs_as_invoker_on_windows_7_to_11) {
  HMODULE image = LoadLibraryExW(installer_path().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(image, found)));
  std::string manifest(data, SizeofResource(image, found));
  FreeLibrary(image);

  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
  for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",    // 7
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",    // 8
                         "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",    // 8.1
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10, 11
    EXPECT_NE(manifest.find(os), std::string::npos) << os;
  }
}

}  // namespace
}  // namespace brq_install
