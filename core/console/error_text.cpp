#include <cstdio>

#include "console/console.hpp"
#include "win/unique.hpp"

namespace brq_install {

using win::api;

std::wstring error_text(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = api.FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  if (length == 0) {
    wchar_t unknown[32];
    std::swprintf(unknown, std::size(unknown), L"Unknown error 0x%08X", static_cast<unsigned>(code));
    return unknown;
  }
  win::unique_hlocal owner(buffer);
  std::wstring text(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return text;
}

}  // namespace brq_install
