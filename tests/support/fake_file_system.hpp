#pragma once
// A file system in memory below one directory, installed through the
// platform table in place of the file functions the product calls, so that
// a whole run costs no disk and its state is a value to save and restore.
// Paths below `root` are compared without regard to case; every other path
// goes to the functions the table held before. It follows Windows'
// documented rules as the product meets them: a moved file keeps its
// identity; an open is refused (32) while another handle's sharing does not
// allow it; a file open without FILE_SHARE_DELETE cannot be moved (32) or
// deleted (32), nor replaced by a move (5); a file `held` by another
// program refuses all of these, but for an open that asks no access; a
// read-only file can be moved but not written, replaced or deleted (5), and
// so can the image of a running program (`image_running`), which refuses
// a write (32). Its Windows directory is `root`\Windows; a deletion asked
// for the next restart is kept by name.
#include <windows.h>

#include <cwctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_handles.hpp"
#include "platform_override.hpp"

namespace brq_install::test {

struct open_file {
  std::wstring path;
  DWORD access, share;
  size_t position = 0;
};

struct case_blind_less {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
  }
};

class fake_file_system : public fake_handles<HANDLE, open_file> {
 public:
  struct node {
    bool directory = false;
    std::string bytes;
    DWORD index = 0;
    bool held = false;
    DWORD attributes = 0;  // besides the directory's or the file's own, say a reparse point's
  };
  using tree = std::map<std::wstring, node, case_blind_less>;

  // `root` exists, empty, until the end of the scope.
  explicit fake_file_system(std::wstring root);
  ~fake_file_system();
  fake_file_system(const fake_file_system&) = delete;
  fake_file_system& operator=(const fake_file_system&) = delete;

  const std::wstring root;
  tree nodes;  // by full path, each directory before what it holds
  // Paths opened through a node marked FILE_ATTRIBUTE_REPARSE_POINT, which
  // the fake, having no link targets, then passes as a plain directory.
  std::vector<std::wstring> traversed;

  // The files MoveFileExW is to delete at the next restart.
  std::vector<std::wstring> deleted_at_restart;

  // Whether the file at a path is the image of a running program.
  std::function<bool(const std::wstring& path)> image_running;

  // Writes a file, making the directories above it.
  void write(const std::wstring& path, std::string bytes);
  // Makes the directory `path` and those above it.
  void make_directories(const std::wstring& path);
  // The bytes of a file; empty when there is none.
  std::string read(const std::wstring& path) const;
  // Removes `path` and everything below it.
  void remove_all(const std::wstring& path);

  static fake_file_system* current;
  const win::platform_table previous;  // the table as the fake found it

 private:
  DWORD next_index_ = 1;
  node new_node(bool directory) {
    node made;
    made.directory = directory;
    made.index = next_index_++;
    return made;
  }
  scoped_platform saved_;
  friend struct file_calls;
};

}  // namespace brq_install::test
