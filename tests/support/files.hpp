#pragma once
// Plain file helpers for tests.
#include <string>

namespace brq_install::test {

std::string read_file(const std::wstring& path);  // empty when missing
std::wstring temp_file_path();                    // a new empty file

// A directory of its own in the temporary directory, removed with everything
// in it at the end of the scope.
class temp_tree {
 public:
  explicit temp_tree(const std::wstring& suffix = L".d");
  ~temp_tree();
  temp_tree(const temp_tree&) = delete;
  temp_tree& operator=(const temp_tree&) = delete;

  const std::wstring& path() const { return root_; }
  std::wstring file(const std::wstring& name) const;       // an empty file; its path
  std::wstring directory(const std::wstring& name) const;  // its path

 private:
  std::wstring placeholder_;  // the unique name's own file, made by the system
  std::wstring root_;
};

}  // namespace brq_install::test
