#include <cstdio>

#include "console/console.hpp"
#include "win/console_io.hpp"

namespace brq_install {

std::wstring error_text(DWORD code) {
  std::wstring text;
  if (win::system_message(code, text) == ERROR_SUCCESS) return text;
  wchar_t unknown[32];
  std::swprintf(unknown, std::size(unknown), L"Unknown error 0x%08X", static_cast<unsigned>(code));
  return unknown;
}

}  // namespace brq_install
