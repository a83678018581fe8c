#pragma once
// The local machine's registry as the product uses it: keys below
// HKEY_LOCAL_MACHINE, by path without regard to case, holding strings and
// numbers. Installed through the platform table; every key handle is
// counted, and at its end the fake checks that each was closed once.
#include <windows.h>

#include <map>
#include <string>
#include <variant>

#include "fake_file_system.hpp"
#include "fake_handles.hpp"
#include "platform_override.hpp"

namespace brq_install::test {

class fake_registry : public fake_handles<HKEY, std::wstring> {
 public:
  using value = std::variant<std::wstring, DWORD>;
  using values = std::map<std::wstring, value, case_blind_less>;
  using tree = std::map<std::wstring, values, case_blind_less>;

  fake_registry();
  ~fake_registry();
  fake_registry(const fake_registry&) = delete;
  fake_registry& operator=(const fake_registry&) = delete;

  tree keys;
  // A string value of a key; empty when there is none.
  std::wstring text(const std::wstring& key, const std::wstring& name) const;

  static fake_registry* current;

 private:
  scoped_platform saved_;
};

}  // namespace brq_install::test
