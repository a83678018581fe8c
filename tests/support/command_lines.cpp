#include "command_lines.hpp"

namespace brq_install::test {

namespace {

std::wstring words(int count) {
  std::wstring line;
  for (int i = 0; i < count; ++i) line += L"a ";
  return line;
}

}  // namespace

const std::vector<command_line_case>& odd_command_lines() {
  static const std::vector<command_line_case> cases = {
      {"empty", L""},
      {"blanks", L"   "},
      {"a tab", L"\t"},
      {"only quotes", L"\"\""},
      {"one quote", L"\""},
      {"three quotes", L"\"\"\""},
      {"empty quotes, then a word", L"\"\"x -y"},
      {"quoted, blanks inside", L"\"C:\\Program Files\\Other\\svc.exe\" -k netsvcs"},
      {"quoted, an argument right after the quote", L"\"C:\\Program Files\\Other\\svc.exe\"-k"},
      {"quoted, never closed", L"\"C:\\Program Files\\Other\\svc.exe -k netsvcs"},
      {"unquoted", L"C:\\Windows\\system32\\svchost.exe -k LocalService"},
      {"unquoted, blanks inside", L"C:\\Program Files\\Other\\svc.exe -k"},
      {"unquoted, tab after it", L"C:\\Other\\svc.exe\t-k"},
      {"unquoted, line feed and carriage return in it", L"C:\\Other\\svc.exe\r\n-k"},
      {"unquoted, quotes inside", L"C:\\Other\\\"s v\"c.exe -k"},
      {"leading blanks", L"  C:\\Other\\svc.exe -k"},
      {"leading tab", L"\t\"C:\\Other\\svc.exe\""},
      {"quoted, backslash before a quote", L"\"C:\\Other\\svc.exe\\\" -k\" -x"},
      {"quoted, two backslashes before a quote", L"\"C:\\Other\\\\\" svc.exe"},
      {"quoted, ends in a backslash", L"\"C:\\Other dir\\\" -k"},
      {"unquoted, backslash before a quote", L"C:\\Other\\svc\\\"x y\" -k"},
      {"backslash, quote first", L"\\\"C:\\Other\\svc.exe -k"},
      {"network path", L"\\\\server\\share\\svc.exe -k"},
      {"characters outside ASCII", L"\"C:\\Dienste\\D\u00e9j\u00e0 vu\\\u6d4b\u8bd5.exe\" -k"},
      {"a null inside", std::wstring(L"C:\\Other\\svc.exe\0 -k", 20)},
      {"32 KiB of text", std::wstring(32768, L'a')},
      {"32 KiB quoted", L"\"" + std::wstring(32766, L'a') + L"\""},
      {"32 KiB quoted, never closed", L"\"" + std::wstring(32767, L'a')},
      {"32 KiB of quotes", std::wstring(32768, L'"')},
      {"32 KiB of blanks", std::wstring(32768, L' ')},
      {"32 KiB of backslashes and quotes",
       [] {
         std::wstring line;
         while (line.size() < 32768) line += L"\\\"";
         return line;
       }()},
      {"16384 words", words(16384)},
  };
  return cases;
}

}  // namespace brq_install::test
