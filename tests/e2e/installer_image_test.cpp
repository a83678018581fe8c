// What the built image carries: its version block, its manifest and its
// payloads.
#include <gtest/gtest.h>

#include <zlib.h>

#include <vector>

#include "child_process.hpp"
#include "files.hpp"

namespace brq_install {
namespace {

using test::installer_path;

std::wstring version_string(const std::vector<char>& block, const wchar_t* name) {
  std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return L"<missing>";
  }
  return std::wstring(value, length > 0 ? length - 1 : 0);
}

// The installer's own answer to --version, without its line end.
std::string version_answer() {
  test::child_result result = test::run_child(test::installer_command(L"--version"));
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_TRUE(result.out.ends_with("\r\n")) << result.out;
  return result.out.substr(0, result.out.find('\r'));
}

std::wstring dotted(DWORD most, DWORD least) {
  return std::to_wstring(HIWORD(most)) + L"." + std::to_wstring(LOWORD(most)) + L"." +
         std::to_wstring(HIWORD(least)) + L"." + std::to_wstring(LOWORD(least));
}

// The version block read back from the image says what --version says.
TEST(installer_image, version_block_matches_the_version_answer) {
  std::string answer = version_answer();
  ASSERT_FALSE(answer.empty());
  std::wstring version(answer.begin(), answer.end());

  std::wstring path = installer_path();
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), version);
  EXPECT_EQ(dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), version);

  EXPECT_EQ(version_string(block, L"FileVersion"), version);
  EXPECT_EQ(version_string(block, L"ProductVersion"), version);
  EXPECT_EQ(version_string(block, L"FileDescription"), L"qzv BRQ installer " + version + L", 64-bit");
  EXPECT_EQ(version_string(block, L"CompanyName"), L"Quorvanta");
  EXPECT_EQ(version_string(block, L"ProductName"), L"QZV OPC UA");
  EXPECT_EQ(version_string(block, L"OriginalFilename"), L"qzv.ua.brq.install.exe");
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
  EXPECT_NE(manifest.find("version=\"" + version_answer() + "\""), std::string::npos);
  for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",    // 7
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",    // 8
                         "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",    // 8.1
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10, 11
    EXPECT_NE(manifest.find(os), std::string::npos) << os;
  }
}


BOOL CALLBACK collect_name(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<uintptr_t>*>(names)->push_back(reinterpret_cast<uintptr_t>(name));
  return TRUE;
}

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

// Inflates `data` as one zlib stream that must end exactly where the data ends.
bool inflate_exactly_one_stream(const void* data, DWORD size, std::string& out) {
  z_stream stream{};
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  stream.avail_in = size;
  if (inflateInit(&stream) != Z_OK) return false;
  std::vector<char> chunk(65536);
  int result;
  do {
    stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
    stream.avail_out = static_cast<uInt>(chunk.size());
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk.data(), chunk.size() - stream.avail_out);
  } while (result == Z_OK);
  inflateEnd(&stream);
  return result == Z_STREAM_END && stream.avail_in == 0;
}

TEST(installer_image, carries_each_payload_as_one_zlib_stream_in_english) {
  HMODULE image = LoadLibraryExW(installer_path().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  const wchar_t* type = MAKEINTRESOURCEW(1001);
  std::vector<uintptr_t> names;
  EnumResourceNamesW(image, type, &collect_name, reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, (std::vector<uintptr_t>{101, 102, 103}));

  for (int id : {101, 102, 103}) {
    SCOPED_TRACE(id);
    const wchar_t* name = MAKEINTRESOURCEW(id);
    std::vector<WORD> languages;
    EnumResourceLanguagesW(image, type, name, &collect_language,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{1033});

    HRSRC found = FindResourceW(image, name, type);
    ASSERT_NE(found, nullptr);
    std::string program;
    EXPECT_TRUE(inflate_exactly_one_stream(LockResource(LoadResource(image, found)),
                                           SizeofResource(image, found), program));
    EXPECT_EQ(program, test::read_file(test::payload_input_path(id)));
    EXPECT_FALSE(program.empty());
  }
  FreeLibrary(image);
}

}  // namespace
}  // namespace brq_install
