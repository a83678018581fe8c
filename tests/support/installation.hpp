#pragma once
// The installation as the installer leaves it in the Wine prefix, for the
// end-to-end tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.hpp"

namespace brq_install::test {

inline const std::wstring install_dir = L"C:\\Program Files\\Quorvanta\\QZV.UA\\brq";
// The product's entry in Programs and Features, below HKEY_LOCAL_MACHINE.
inline const std::wstring uninstall_key =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvanta.QZV.UA.brq";

// The installed path of a payload file.
std::wstring installed_path(const std::wstring& name);

// Puts the prefix back to "never installed": the service QZVOPCUA.BRQ
// stopped and deleted, the entry deleted, the installed files, the record
// and their directories removed.
void remove_installation();

// Stops the service `name` (waiting up to 10 s) and deletes it, if it exists.
void delete_service(const wchar_t* name);

// The status of the service `name` with its process id; all zero when the
// service does not exist.
SERVICE_STATUS_PROCESS service_status(const wchar_t* name);

// Waits up to 10 s for the service `name` to reach `state`; whether it did.
bool wait_for_service_state(const wchar_t* name, DWORD state);

// The ids of the processes that run the installed server file.
std::vector<DWORD> server_processes();

// The data of the value `name` of the key `key` below HKEY_LOCAL_MACHINE;
// empty when there is none. And a string value's text, a number's value.
std::vector<BYTE> machine_value(const std::wstring& key, const wchar_t* name);
std::wstring machine_text(const std::wstring& key, const wchar_t* name);
DWORD machine_number(const std::wstring& key, const wchar_t* name);

// The deployment guide's detection rule: the entry names this version, the
// service exists, and no record of an unfinished run is there.
bool detected_installed();

// The installer's output without its first line, after checking that the
// first line is the os line of a current Windows (its version is Wine's).
std::string after_os_line(const std::string& out);

// A prefix where the product was never installed, before and after each
// test, and the installer run in it.
struct installation_test : ::testing::Test {
  void SetUp() override { remove_installation(); }
  void TearDown() override { remove_installation(); }

  // An update takes seconds; a run still going after this has hung.
  static constexpr DWORD run_limit_ms = 3 * 60 * 1000;
  static child_result install() { return child_process(installer_command()).wait(run_limit_ms); }
  static void first_installation() {
    auto result = install();
    ASSERT_EQ(result.exit_code, 0u) << result.out;
    ASSERT_EQ(service_status(L"QZVOPCUA.BRQ").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  }
};

}  // namespace brq_install::test
