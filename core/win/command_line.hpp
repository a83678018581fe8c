#pragma once
#include <string>
#include <string_view>

namespace brq_install::win {

// The program that a command line names: its first argument, split off as
// CommandLineToArgvW splits the first argument, without loading shell32.dll
// for it. That argument has rules of its own: a line that starts with a
// quote gives what follows it up to the next quote, or up to the end when
// there is none; any other line gives what precedes its first blank or tab.
// A backslash escapes nothing there, and blanks before the argument are not
// skipped (the argument is then empty). The line ends at its first null, as
// the C string it stands for. An empty line names no program: here an empty
// string, where CommandLineToArgvW would answer with the path of the
// current program.
std::wstring first_argument(std::wstring_view command_line);

}  // namespace brq_install::win
