#pragma once
// Records what the installer writes to its standard output, piece by piece,
// each with the console attribute in force while it was written. It stands in
// for the console (or, with is_console false, for a redirected output).
#include <windows.h>

#include <string>
#include <vector>

#include <ostream>

#include "platform_override.hpp"

namespace brq_install::test {

class console_recorder {
 public:
  struct piece {
    std::string text;  // UTF-8
    WORD attribute;
    bool wide;  // written with WriteConsoleW
    bool operator==(const piece&) const = default;
  };
  struct run {  // consecutive pieces of one attribute, joined
    std::string text;
    WORD attribute;
    bool operator==(const run&) const = default;
    // How a failing comparison shows it: the text and its attribute.
    friend void PrintTo(const run& r, std::ostream* out) { *out << "{\"" << r.text << "\", " << r.attribute << "}"; }
  };

  static constexpr WORD plain = 7;

  explicit console_recorder(bool is_console = true, WORD initial = plain);
  ~console_recorder();
  console_recorder(const console_recorder&) = delete;
  console_recorder& operator=(const console_recorder&) = delete;

  std::string text() const;       // everything, in order
  std::vector<run> runs() const;  // everything, grouped by attribute
  WORD attribute() const { return attribute_; }
  void clear() { pieces.clear(); }

  std::vector<piece> pieces;
  int attribute_changes = 0;
  // The console's control handler as the program set it, to deliver a
  // console event (Ctrl+C, a logoff...) as the system does.
  PHANDLER_ROUTINE handler = nullptr;

 private:
  friend struct console_fakes;
  bool is_console_;
  WORD attribute_;
  scoped_platform saved_;
};

// The system's text for `code` as UTF-8, as the installer prints it.
std::string text_of(DWORD code);

}  // namespace brq_install::test
