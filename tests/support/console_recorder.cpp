#include "console_recorder.hpp"

#include <algorithm>

#include "console/console.hpp"

namespace brq_install::test {

namespace {
console_recorder* active = nullptr;
HANDLE const fake_output = reinterpret_cast<HANDLE>(0x5107);

// UTF-8 past the platform table, so that a fault injected into the
// installer's calls never changes what is recorded.
std::string recorded(std::wstring_view wide) {
  auto convert = [&](char* out, int size) {
    return win::real_api.WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out, size, nullptr,
                                             nullptr);
  };
  std::string bytes(static_cast<size_t>(std::max(convert(nullptr, 0), 0)), '\0');
  convert(bytes.data(), static_cast<int>(bytes.size()));
  return bytes;
}
}  // namespace

struct console_fakes {
  static HANDLE WINAPI get_std_handle(DWORD which) {
    return which == STD_OUTPUT_HANDLE ? fake_output : win::real_api.GetStdHandle(which);
  }
  static BOOL WINAPI get_console_mode(HANDLE handle, DWORD* mode) {
    if (handle != fake_output || !active->is_console_) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    return TRUE;
  }
  static BOOL WINAPI get_info(HANDLE handle, CONSOLE_SCREEN_BUFFER_INFO* info) {
    if (handle != fake_output || !active->is_console_) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    *info = {};
    info->wAttributes = active->attribute_;
    return TRUE;
  }
  static BOOL WINAPI set_attribute(HANDLE handle, WORD attribute) {
    if (handle != fake_output || !active->is_console_) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    active->attribute_ = attribute;
    ++active->attribute_changes;
    return TRUE;
  }
  static BOOL WINAPI write_console(HANDLE handle, const void* text, DWORD count, DWORD* written, void*) {
    if (handle != fake_output || !active->is_console_) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    std::wstring_view wide(static_cast<const wchar_t*>(text), count);
    active->pieces.push_back({recorded(wide), active->attribute_, true});
    *written = count;
    return TRUE;
  }
  static size_t __cdecl write(const void* data, size_t size, size_t count, FILE* stream) {
    if (stream != stdout) return win::real_api.fwrite(data, size, count, stream);
    std::string bytes(static_cast<const char*>(data), size * count);
    active->pieces.push_back({bytes, active->is_console_ ? active->attribute_ : console_recorder::plain, false});
    return count;
  }
  static int __cdecl flush(FILE* stream) { return stream == stdout ? 0 : win::real_api.fflush(stream); }
  static BOOL WINAPI set_handler(PHANDLER_ROUTINE handler, BOOL add) {
    active->handler = add ? handler : active->handler == handler ? nullptr : active->handler;
    return TRUE;
  }
};

console_recorder::console_recorder(bool is_console, WORD initial) : is_console_(is_console), attribute_(initial) {
  active = this;
  win::api.GetStdHandle = &console_fakes::get_std_handle;
  win::api.GetConsoleMode = &console_fakes::get_console_mode;
  win::api.GetConsoleScreenBufferInfo = &console_fakes::get_info;
  win::api.SetConsoleTextAttribute = &console_fakes::set_attribute;
  win::api.WriteConsoleW = &console_fakes::write_console;
  win::api.fwrite = &console_fakes::write;
  win::api.fflush = &console_fakes::flush;
  win::api.SetConsoleCtrlHandler = &console_fakes::set_handler;
}

console_recorder::~console_recorder() { active = nullptr; }

std::string console_recorder::text() const {
  std::string all;
  for (const piece& p : pieces) all += p.text;
  return all;
}

std::vector<console_recorder::run> console_recorder::runs() const {
  std::vector<run> grouped;
  for (const piece& p : pieces) {
    if (p.text.empty()) continue;
    if (!grouped.empty() && grouped.back().attribute == p.attribute) {
      grouped.back().text += p.text;
    } else {
      grouped.push_back({p.text, p.attribute});
    }
  }
  return grouped;
}

}  // namespace brq_install::test

namespace brq_install::test {

std::string text_of(DWORD code) { return wide_to_utf8(error_text(code)); }

}  // namespace brq_install::test
