// Whole runs of the built installer in the suite's Wine prefix: a first
// installation, updates, and the runs that end early. Each checks the whole
// output (CRLF line ends; only the os line and process ids are Wine's), the
// exit code, the installed files and what the service manager reports.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <utility>

#include "child_process.hpp"
#include "console/console.hpp"
#include "console_recorder.hpp"
#include "files.hpp"
#include "installation.hpp"
#include "product.h"

namespace brq_install {
namespace {

using namespace test;

const std::string destination = "Destination: C:\\Program Files\\Quorvanta\\QZV.UA\\brq\r\n";
const std::string copies_and_entry =
    "Copying \"qzv.ua.brq.exe\"... ok\r\n"
    "Copying \"qzv.ua.brq.ctrl.exe\"... ok\r\n"
    "Copying \"qzv.ua.brq.dev.exe\"... ok\r\n"
    "Copying \"qzv.ua.brq.uninstall.exe\"... ok\r\n"
    "Writing uninstall entry \"Quorvanta.QZV.UA.brq\"... ok\r\n";
const std::string firewall_and_start =
    "Will configure firewall...\r\n"
    "exception for \"qzv.ua.brq.exe\"... ok\r\n"
    "Will start services...\r\n"
    "  service \"QZVOPCUA.BRQ\"... ok\r\n";
const std::string discovery_of_a_running_server =
    "Discovering services for \"qzv.ua.brq.exe\"...\r\n"
    "  QZVOPCUA.BRQ -> running\r\n"
    "Discovering services for \"qzv.ua.brq.ctrl.exe\"...\r\n"
    "Discovering services for \"qzv.ua.brq.dev.exe\"...\r\n"
    "Discovering services for \"qzv.ua.brq.uninstall.exe\"...\r\n"
    "Will stop services...\r\n"
    "  service \"QZVOPCUA.BRQ\"... ok\r\n";
const std::string no_processes =
    "Checking processes for \"qzv.ua.brq.exe\"... \r\n"
    "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \r\n"
    "Checking processes for \"qzv.ua.brq.dev.exe\"... \r\n"
    "Checking processes for \"qzv.ua.brq.uninstall.exe\"... \r\n";
const std::string already_registered =
    "Other services were already registered for \"qzv.ua.brq.exe\"\r\n"
    "Will attempt to continue...\r\n";
const std::string retry_line = "\r\n  retry in 5 sec..... ";

// The image of a service or process that was just ended may stay held for a
// moment, which the copy bridges with a retry; Windows and Wine differ in how
// long. Retries of the server's copy are taken out before comparing.
std::string without_server_retries(std::string out) {
  const std::string line = "Copying \"qzv.ua.brq.exe\"... ";
  size_t at = out.find(line);
  if (at == std::string::npos) return out;
  at += line.size();
  while (out.compare(at, retry_line.size(), retry_line) == 0) out.erase(at, retry_line.size());
  return out;
}

struct service_state {
  DWORD state = 0;
  QUERY_SERVICE_CONFIGW config{};
  std::wstring binary_path, start_name, display_name, description;
  bool exists = false;
};

service_state query_server_service() {
  service_state result;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, L"QZVOPCUA.BRQ", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
  if (service != nullptr) {
    result.exists = true;
    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    result.state = status.dwCurrentState;
    std::vector<char> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed)) {
      result.config = *config;
      result.binary_path = config->lpBinaryPathName;
      result.start_name = config->lpServiceStartName ? config->lpServiceStartName : L"";
      result.display_name = config->lpDisplayName;
    }
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data());
    if (QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, reinterpret_cast<BYTE*>(description),
                             static_cast<DWORD>(buffer.size()), &needed) &&
        description->lpDescription != nullptr) {
      result.description = description->lpDescription;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return result;
}

// The installed files are the programs the installer carries, or with
// `build` " other build", the programs of the other installer; and nothing
// else is in the directory.
void expect_installed_payloads(const std::string& build = "") {
  const wchar_t* names[] = {L"qzv.ua.brq.exe", L"qzv.ua.brq.ctrl.exe", L"qzv.ua.brq.dev.exe",
                            L"qzv.ua.brq.uninstall.exe"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(read_file(installed_path(names[i])) == read_file(payload_input_path(101 + i)) + build)
        << wide_for_trace(names[i]);
  }
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((install_dir + L"\\*").c_str(), &found);
  int entries = 0;
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) ++entries;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  EXPECT_EQ(entries, 6) << "the four files, . and ..";
}

using installation = installation_test;

TEST_F(installation, first_installation_registers_and_starts_the_server) {
  ASSERT_EQ(GetFileAttributesW(L"C:\\Program Files\\Quorvanta"), INVALID_FILE_ATTRIBUTES);
  auto result = install();
  EXPECT_EQ(after_os_line(result.out),
            destination + copies_and_entry + "Registering service \"QZVOPCUA.BRQ\"... ok\r\n" + firewall_and_start);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_code, 0u);
  expect_installed_payloads();

  service_state service = query_server_service();
  ASSERT_TRUE(service.exists);
  EXPECT_EQ(service.config.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(service.config.dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(service.config.dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(service.binary_path, L"\"" + installed_path(L"qzv.ua.brq.exe") + L"\"");
  EXPECT_EQ(service.start_name, L"LocalSystem");
  EXPECT_EQ(service.display_name, L"qzv OPCUA server for BRQ");
  EXPECT_EQ(service.description, L"" BRQ_SERVER_DESCRIPTION);
  EXPECT_EQ(service.state, static_cast<DWORD>(SERVICE_RUNNING));
  // Restarted a minute after its first and second failure, the count reset
  // after a day. Windows keeps that in the service's key; Wine accepts it
  // and keeps nothing (the fake service manager checks what was asked).
  std::vector<BYTE> failure = machine_value(L"SYSTEM\\CurrentControlSet\\Services\\QZVOPCUA.BRQ", L"FailureActions");
  if (failure.empty()) {
    RecordProperty("FailureActions", "not kept by this system");
  } else {
    std::vector<DWORD> words(failure.size() / sizeof(DWORD));
    std::memcpy(words.data(), failure.data(), words.size() * sizeof(DWORD));
    EXPECT_EQ(words, (std::vector<DWORD>{86400, 0, 0, 3, words.at(4), SC_ACTION_RESTART, 60000, SC_ACTION_RESTART,
                                         60000, SC_ACTION_NONE, 0}));
  }

  // The entry in Programs and Features, which names the installed removal
  // program; the detection rule sees the product installed.
  const std::wstring removal = L"\"" + installed_path(L"qzv.ua.brq.uninstall.exe") + L"\"";
  uint64_t bytes = 0;
  for (int id = 101; id <= 104; ++id) bytes += read_file(payload_input_path(id)).size();
  for (const auto& [name, value] :
       std::vector<std::pair<const wchar_t*, std::wstring>>{{L"DisplayName", L"QZV OPC UA server for BRQ"},
                                                            {L"DisplayVersion", L"" BRQ_VERSION_TEXT},
                                                            {L"Publisher", L"Quorvanta"},
                                                            {L"InstallLocation", install_dir},
                                                            {L"DisplayIcon", installed_path(L"qzv.ua.brq.exe") + L",0"},
                                                            {L"UninstallString", removal},
                                                            {L"QuietUninstallString", removal}}) {
    EXPECT_EQ(machine_text(uninstall_key, name), value) << wide_for_trace(name);
  }
  EXPECT_EQ(machine_number(uninstall_key, L"NoModify"), 1u);
  EXPECT_EQ(machine_number(uninstall_key, L"NoRepair"), 1u);
  EXPECT_EQ(machine_number(uninstall_key, L"EstimatedSize"), (bytes + 1023) / 1024);
  EXPECT_TRUE(detected_installed());
}

TEST_F(installation, update_stops_the_running_server_replaces_the_files_and_starts_it_again) {
  first_installation();
  auto result = install();
  EXPECT_EQ(without_server_retries(after_os_line(result.out)), destination + discovery_of_a_running_server +
                                                                   no_processes + copies_and_entry +
                                                                   already_registered + firewall_and_start);
  EXPECT_EQ(result.exit_code, 0u);
  expect_installed_payloads();
  EXPECT_EQ(query_server_service().state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(installation, update_ends_programs_running_from_an_installed_file_only) {
  first_installation();
  // The developer tool from its installed path, and a copy of it elsewhere.
  std::wstring copy = temp_file_path() + L".exe";
  ASSERT_TRUE(CopyFileW(installed_path(L"qzv.ua.brq.dev.exe").c_str(), copy.c_str(), FALSE));
  child_process installed(L"\"" + installed_path(L"qzv.ua.brq.dev.exe") + L"\" --stay");
  child_process elsewhere(L"\"" + copy + L"\" --stay");
  // Each says what it is once it runs.
  ASSERT_TRUE(installed.wait_for_output("stand-in"));
  ASSERT_TRUE(elsewhere.wait_for_output("stand-in"));

  auto result = install();
  std::string out = after_os_line(result.out);
  std::string kill = "Checking processes for \"qzv.ua.brq.dev.exe\"... \r\n  will kill process " +
                     std::to_string(installed.id()) + "... ok\r\nChecking processes for \"qzv.ua.brq.uninstall.exe\"";
  EXPECT_NE(out.find(kill), std::string::npos) << out;
  EXPECT_EQ(out.find("will kill process " + std::to_string(elsewhere.id())), std::string::npos);
  EXPECT_EQ(result.exit_code, 0u) << out;
  expect_installed_payloads();

  EXPECT_EQ(installed.wait().exit_code, 0u);  // ended by the installer, with exit code 0
  HANDLE still = OpenProcess(SYNCHRONIZE, FALSE, elsewhere.id());
  EXPECT_EQ(WaitForSingleObject(still, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still running
  CloseHandle(still);
  elsewhere.terminate();
  DeleteFileW(copy.c_str());
}

TEST_F(installation, file_held_for_a_few_seconds_is_written_after_one_retry) {
  first_installation();
  HANDLE held = CreateFileW(installed_path(L"qzv.ua.brq.ctrl.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  child_process installer(installer_command());
  EXPECT_TRUE(installer.wait_for_output("Copying \"qzv.ua.brq.ctrl.exe\"... \r\n  retry in 5 sec."));
  CloseHandle(held);  // inside the first five-second wait
  auto result = installer.wait();
  EXPECT_EQ(without_server_retries(after_os_line(result.out)),
            destination + discovery_of_a_running_server + no_processes +
                "Copying \"qzv.ua.brq.exe\"... ok\r\n"
                "Copying \"qzv.ua.brq.ctrl.exe\"... " +
                retry_line +
                "ok\r\n"
                "Copying \"qzv.ua.brq.dev.exe\"... ok\r\n"
                "Copying \"qzv.ua.brq.uninstall.exe\"... ok\r\n"
                "Writing uninstall entry \"Quorvanta.QZV.UA.brq\"... ok\r\n" +
                already_registered + firewall_and_start);
  EXPECT_EQ(result.exit_code, 0u);
  expect_installed_payloads();
}

const std::string restart_of_the_server =
    "Will start services...\r\n"
    "  service \"QZVOPCUA.BRQ\"... ok\r\n";

TEST_F(installation, corrupt_payload_ends_the_run_with_the_installed_file_as_it_was_and_the_server_running) {
  first_installation();
  auto result = run_child(installer_command(L"", corrupt_installer_path()));
  EXPECT_EQ(after_os_line(result.out), destination + discovery_of_a_running_server + no_processes +
                                           "Copying \"qzv.ua.brq.exe\"... failed\r\n" + text_of(ERROR_INVALID_DATA) +
                                           "\r\n" + restart_of_the_server);
  EXPECT_EQ(result.exit_code, 1u);
  expect_installed_payloads();
  EXPECT_EQ(query_server_service().state, static_cast<DWORD>(SERVICE_RUNNING));
}

// An update whose developer tool is held through every retry puts the files
// it replaced back and starts the server again; killed while it waits, it is
// completed by the next run.
struct held_update : installation {
  HANDLE held = INVALID_HANDLE_VALUE;
  void SetUp() override {
    installation::SetUp();
    auto result = run_child(installer_command(L"", other_installer_path()));
    ASSERT_EQ(result.exit_code, 0u) << result.out;
    held = CreateFileW(installed_path(L"qzv.ua.brq.dev.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
  }
  void release() {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
  }
  void TearDown() override {
    release();
    installation::TearDown();
  }
};

const std::string copies_up_to_the_held_file =
    "Copying \"qzv.ua.brq.exe\"... ok\r\n"
    "Copying \"qzv.ua.brq.ctrl.exe\"... ok\r\n"
    "Copying \"qzv.ua.brq.dev.exe\"... " +
    retry_line;

TEST_F(held_update, failed_copy_restores_every_file_and_starts_the_server_again) {
  auto result = install();
  release();
  EXPECT_EQ(without_server_retries(after_os_line(result.out)),
            destination + discovery_of_a_running_server + no_processes + copies_up_to_the_held_file + retry_line +
                retry_line + "failed\r\n" + text_of(ERROR_SHARING_VIOLATION) + "\r\n" +
                "Restoring \"qzv.ua.brq.ctrl.exe\"... ok\r\n"
                "Restoring \"qzv.ua.brq.exe\"... ok\r\n" +
                restart_of_the_server);
  EXPECT_EQ(result.exit_code, 1u);
  expect_installed_payloads(" other build");
  EXPECT_EQ(query_server_service().state, static_cast<DWORD>(SERVICE_RUNNING));
}

// Also when the record it left is damaged: the backups tell how far its
// files got, and the server, an automatic service, starts again.
TEST_F(held_update, run_killed_while_it_waits_is_completed_by_the_next) {
  for (bool damaged : {false, true}) {
    SCOPED_TRACE(damaged ? "record damaged" : "record intact");
    if (damaged) SetUp();
    child_process killed(installer_command());
    ASSERT_TRUE(killed.wait_for_output(copies_up_to_the_held_file));
    killed.terminate();
    release();
    EXPECT_EQ(query_server_service().state, static_cast<DWORD>(SERVICE_STOPPED));
    // Its server swapped in, the entry as it was: the record says unfinished.
    EXPECT_FALSE(detected_installed());
    if (damaged) std::ofstream(std::filesystem::path(installed_path(L"qzv.ua.brq.run"))) << "not a record";

    auto result = install();
    std::string resumed = damaged ? "The record of an interrupted installation cannot be read: the automatic services "
                                    "of the installed files will be started\r\n" +
                                        text_of(ERROR_INVALID_DATA) + "\r\nWill attempt to continue...\r\n"
                                  : "Resuming an interrupted installation...\r\n";
    EXPECT_EQ(without_server_retries(after_os_line(result.out)),
              destination + resumed +
                  "Restoring \"qzv.ua.brq.ctrl.exe\"... ok\r\n"
                  "Restoring \"qzv.ua.brq.exe\"... ok\r\n"
                  "Discovering services for \"qzv.ua.brq.exe\"...\r\n"
                  "  QZVOPCUA.BRQ -> stopped\r\n"
                  "Discovering services for \"qzv.ua.brq.ctrl.exe\"...\r\n"
                  "Discovering services for \"qzv.ua.brq.dev.exe\"...\r\n"
                  "Discovering services for \"qzv.ua.brq.uninstall.exe\"...\r\n"
                  "Will stop services...\r\n" +
                  no_processes + copies_and_entry + already_registered + firewall_and_start);
    EXPECT_EQ(result.exit_code, 0u);
    expect_installed_payloads();
    EXPECT_EQ(query_server_service().state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(detected_installed());
  }
}

TEST_F(installation, service_name_taken_by_another_file_ends_the_run_before_the_firewall) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  SC_HANDLE other = CreateServiceW(manager, L"QZVOPCUA.BRQ", L"other", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"\"C:\\other\\qzv.ua.brq.exe\"",
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  CloseServiceHandle(other);
  CloseServiceHandle(manager);

  auto result = install();
  EXPECT_EQ(after_os_line(result.out), destination + copies_and_entry +
                                           "Registering service \"QZVOPCUA.BRQ\"... failed\r\n" +
                                           text_of(ERROR_SERVICE_EXISTS) + "\r\n");
  EXPECT_EQ(result.exit_code, 1u);
  EXPECT_EQ(query_server_service().binary_path, L"\"C:\\other\\qzv.ua.brq.exe\"");
}

}  // namespace
}  // namespace brq_install
