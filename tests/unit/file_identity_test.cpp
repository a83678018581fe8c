// What a file's identity is: the same volume and index together; the same
// index on another volume is another file.
#include "unit_prelude.hpp"

#include "fake_file_system.hpp"
#include "win/file_identity.hpp"

namespace brq_install {
namespace {

TEST(file_identities, match_by_volume_and_index_together) {
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
    EXPECT_EQ(win::file_identities(std::span(&server, 1)).match(other) == 0, c.same);
  }
}

// A path that a process chose is never opened through a link: below one it
// matches only as it is spelt; without one, by identity.
TEST(file_identities, unfollowed_paths_pass_through_no_link) {
  const std::wstring root = LR"(C:\brq-fake)", app = root + LR"(\app)", installed = app + LR"(\x.exe)";
  const std::wstring respelt = LR"(\\?\)" + installed;
  struct {
    std::wstring link, path;
    size_t match;
  } cases[] = {{L"", respelt, 0}, {app, installed, 0}, {app, respelt, size_t(-1)}, {installed, respelt, size_t(-1)}};
  for (const auto& c : cases) {
    test::fake_file_system files(root);
    files.write(installed, "server");
    const win::file_identities known(std::span(&installed, 1));
    if (!c.link.empty()) files.nodes[c.link].attributes = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(known.match_unfollowed(c.path), c.match) << wide_to_utf8(c.link + L" " + c.path);
    EXPECT_EQ(files.traversed, std::vector<std::wstring>{});
  }
}

}  // namespace
}  // namespace brq_install
