#pragma once
// The installation as the installer leaves it in the Wine prefix, for the
// end-to-end tests.
#include <string>

namespace brq_install::testing {

inline const std::wstring install_dir = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq";

// The installed path of a payload file.
std::wstring installed_path(const std::wstring& name);

// Puts the prefix back to "never installed": the service QZVOPCUA.BRQ
// stopped and deleted, the installed files and their directories removed.
void remove_installation();

// The installer's output without its first line, after checking that the
// first line is the os line of a current Windows (its version is Wine's).
std::string after_os_line(const std::string& out);

}  // namespace brq_install::testing
