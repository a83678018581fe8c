#include <algorithm>
#include <climits>

#include "console/console.hpp"
#include "win/console_io.hpp"

namespace brq_install {

std::wstring utf8_to_wide(const char* bytes, size_t length) {
  if (length == 0 || length > INT_MAX) return {};
  // ASCII is widened unit by unit, without the system: the fixed texts of
  // the plan (names, the destination's words) cannot come out empty.
  if (std::all_of(bytes, bytes + length, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::wstring(bytes, bytes + length);
  }
  return win::system_utf8_to_wide(bytes, static_cast<int>(length));
}

std::wstring utf8_to_wide(std::string_view text) { return utf8_to_wide(text.data(), text.size()); }

std::string wide_to_utf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX / 3) return {};
  return win::system_wide_to_utf8(text);
}

}  // namespace brq_install
