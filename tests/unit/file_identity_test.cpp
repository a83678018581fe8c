// What a file's identity is: the same volume and index together; the same
// index on another volume is another file.
#include "unit_prelude.hpp"

#include "win/file_identity.hpp"

namespace brq_install {
namespace {

TEST(same_file, matches_by_volume_and_index_together) {
  test::temp_tree tree;
  std::wstring server = tree.file(L"qzv.ua.brq.exe");
  struct {
    const char* what;
    DWORD other_serial, other_index;
    bool same;
  } cases[] = {
      {"same volume, same index", 0x5EE9, 7, true},
      {"other volume, same index", 0x5EEA, 7, false},
      {"same volume, other index", 0x5EE9, 8, false},
  };
  static const BY_HANDLE_FILE_INFORMATION* answer = nullptr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BY_HANDLE_FILE_INFORMATION infos[2] = {};
    infos[0].dwVolumeSerialNumber = 0x5EE9;
    infos[0].nFileIndexLow = 7;
    infos[1].dwVolumeSerialNumber = c.other_serial;
    infos[1].nFileIndexLow = c.other_index;
    answer = infos;
    test::scoped_override identity(
        win::api.GetFileInformationByHandle, +[](HANDLE, BY_HANDLE_FILE_INFORMATION* info) -> BOOL {
          *info = *answer++;
          return TRUE;
        });
    std::wstring other = tree.file(L"other.exe");
    EXPECT_EQ(win::same_file(server, other), c.same);
  }
}

}  // namespace
}  // namespace brq_install
