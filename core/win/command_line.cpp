#include "win/command_line.hpp"

namespace brq_install::win {

std::wstring first_argument(std::wstring_view command_line) {
  command_line = command_line.substr(0, command_line.find(L'\0'));
  if (command_line.starts_with(L'"')) {
    std::wstring_view quoted = command_line.substr(1);
    return std::wstring(quoted.substr(0, quoted.find(L'"')));
  }
  return std::wstring(command_line.substr(0, command_line.find_first_of(L" \t")));
}

}  // namespace brq_install::win
