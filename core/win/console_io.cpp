#include "win/console_io.hpp"

#include <string>

#include "win/last_error.hpp"
#include "win/unique.hpp"

namespace brq_install::win {

HANDLE standard_output() { return api.GetStdHandle(STD_OUTPUT_HANDLE); }

bool is_console(HANDLE output) {
  DWORD mode = 0;
  return api.GetConsoleMode(output, &mode) != 0;
}

void write_console(HANDLE console, std::wstring_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    if (!api.WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

void write_bytes(std::string_view bytes) {
  api.fwrite(bytes.data(), 1, bytes.size(), stdout);
  api.fflush(stdout);
}

bool text_attribute(HANDLE output, WORD& attribute) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!api.GetConsoleScreenBufferInfo(output, &info)) return false;
  attribute = info.wAttributes;
  return true;
}

void set_text_attribute(HANDLE output, WORD attribute) { api.SetConsoleTextAttribute(output, attribute); }

DWORD system_message(DWORD code, std::wstring& text) {
  wchar_t* buffer = nullptr;
  DWORD length = api.FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  if (length == 0) return last_error();
  unique_hlocal owner(buffer);
  text.assign(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return ERROR_SUCCESS;
}

std::wstring system_utf8_to_wide(const char* bytes, int length) {
  int count = api.MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
  if (count <= 0) return {};
  std::wstring text(static_cast<size_t>(count), L'\0');
  api.MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, text.data(), count);
  return text;
}

std::string system_wide_to_utf8(std::wstring_view text) {
  int size = static_cast<int>(text.size());
  int count = api.WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return {};
  std::string bytes(static_cast<size_t>(count), '\0');
  api.WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), count, nullptr, nullptr);
  return bytes;
}

}  // namespace brq_install::win
