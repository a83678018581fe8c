#include <algorithm>
#include <climits>

#include "console/console.hpp"
#include "win/platform.hpp"

namespace brq_install {

using win::api;

std::wstring utf8_to_wide(const char* bytes, size_t length) {
  if (length == 0 || length > INT_MAX) return {};
  // ASCII is widened unit by unit, without the system: the fixed texts of
  // the plan (names, the destination's words) cannot come out empty.
  if (std::all_of(bytes, bytes + length, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::wstring(bytes, bytes + length);
  }
  int size = static_cast<int>(length);
  int count = api.MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
  if (count <= 0) return {};
  std::wstring text(static_cast<size_t>(count), L'\0');
  api.MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, text.data(), count);
  return text;
}

std::wstring utf8_to_wide(std::string_view text) { return utf8_to_wide(text.data(), text.size()); }

std::string wide_to_utf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX / 3) return {};
  int size = static_cast<int>(text.size());
  int count = api.WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return {};
  std::string bytes(static_cast<size_t>(count), '\0');
  api.WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), count, nullptr, nullptr);
  return bytes;
}

}  // namespace brq_install
