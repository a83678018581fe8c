// The built uninstaller in the suite's Wine prefix, after the built
// installer: nothing of the product is left, and a second removal finds
// nothing to do. Wine's firewall object answers a lookup of any path with an
// entry, so a removal there always reports removing the exception; Windows
// reports it only when there is one (the removal sweep shows both).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "child_process.hpp"
#include "console/console.hpp"
#include "files.hpp"
#include "installation.hpp"

namespace brq_install {
namespace {

using namespace test;

child_result remove() { return child_process(installer_command(L"", uninstaller_path())).wait(3 * 60 * 1000); }

void expect_nothing_left() {
  EXPECT_EQ(GetFileAttributesW(L"C:\\Program Files\\Quorvanta"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(machine_text(uninstall_key, L"DisplayVersion"), L"") << "the entry is still there";
  EXPECT_EQ(service_status(L"QZVOPCUA.BRQ").dwCurrentState, 0u) << "the service is still there";
  EXPECT_TRUE(server_processes().empty());
}

using uninstall = installation_test;

TEST_F(uninstall, removes_a_running_installation_and_the_control_tool_it_runs_then_finds_nothing) {
  ASSERT_NO_FATAL_FAILURE(first_installation());
  child_process tool(L"\"" + installed_path(L"qzv.ua.brq.ctrl.exe") + L"\" --stay");
  ASSERT_TRUE(tool.wait_for_output("stand-in"));

  child_result removal = remove();
  std::string kill = "Checking processes for \"qzv.ua.brq.ctrl.exe\"... \r\n  will kill process " +
                     std::to_string(tool.id()) + "... ok\r\n";
  for (const std::string& part : {std::string("  service \"QZVOPCUA.BRQ\"... ok\r\n"), kill,
                                  std::string("Deleting service \"QZVOPCUA.BRQ\"... ok\r\n"),
                                  std::string("Deleting \"qzv.ua.brq.ctrl.exe\"... ok\r\n"),
                                  std::string("Removing directory \"C:\\Program Files\\Quorvanta\"... ok\r\n")}) {
    EXPECT_NE(removal.out.find(part), std::string::npos) << part << "\nin:\n" << removal.out;
  }
  EXPECT_EQ(removal.err, "");
  EXPECT_EQ(removal.exit_code, 0u) << removal.out;
  EXPECT_EQ(tool.wait().exit_code, 0u);  // ended by the uninstaller
  expect_nothing_left();

  child_result again = remove();
  EXPECT_EQ(again.out,
            "Destination: C:\\Program Files\\Quorvanta\\QZV.UA\\brq\r\n"
            "Removing firewall exception for \"qzv.ua.brq.exe\"... ok\r\n");  // Wine's entry for any path
  EXPECT_EQ(again.exit_code, 0u);
  expect_nothing_left();
}

// As Programs and Features starts it: the installed removal program, by the
// entry's QuietUninstallString. Its own file, which Windows does not let a
// running program delete, leaves the destination for the temporary
// directory and goes at the next restart (wineboot -r: the prefix's).
TEST_F(uninstall, the_installed_removal_program_takes_everything_and_its_own_file_at_the_restart) {
  ASSERT_NO_FATAL_FAILURE(first_installation());
  std::wstring command = machine_text(uninstall_key, L"QuietUninstallString");
  ASSERT_EQ(command, L"\"" + installed_path(L"qzv.ua.brq.uninstall.exe") + L"\"");
  child_result removal = child_process(command).wait(3 * 60 * 1000);
  EXPECT_EQ(removal.exit_code, 0u) << removal.out;
  expect_nothing_left();

  std::smatch moved_line;
  ASSERT_TRUE(std::regex_search(removal.out, moved_line,
                                std::regex(R"re(Deleting "qzv\.ua\.brq\.uninstall\.exe"\.\.\. moved to "([^"]+)", )re"
                                           R"re(deleted at the next restart\r\n)re")))
      << removal.out;
  std::wstring moved = utf8_to_wide(moved_line[1].str());
  EXPECT_NE(GetFileAttributesW(moved.c_str()), INVALID_FILE_ATTRIBUTES);
  std::vector<BYTE> pending = machine_value(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                            L"PendingFileRenameOperations");
  std::wstring renames(reinterpret_cast<const wchar_t*>(pending.data()), pending.size() / sizeof(wchar_t));
  EXPECT_NE(renames.find(L"\\??\\" + moved + std::wstring(2, L'\0')), std::wstring::npos) << "not to be deleted";
  EXPECT_EQ(renames.find(install_dir), std::wstring::npos) << "a deletion in the destination";

  EXPECT_EQ(child_process(L"wineboot.exe -r").wait(60 * 1000).exit_code, 0u);
  EXPECT_EQ(GetFileAttributesW(moved.c_str()), INVALID_FILE_ATTRIBUTES);
  expect_nothing_left();
}

// A removal refused for a file in use starts the server again and leaves no
// record, so that the next run of the installer is a plain update.
TEST_F(uninstall, refused_for_a_file_in_use_leaves_the_installation_as_it_was) {
  ASSERT_NO_FATAL_FAILURE(first_installation());
  HANDLE held = CreateFileW(installed_path(L"qzv.ua.brq.dev.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  child_result removal = remove();
  CloseHandle(held);
  EXPECT_NE(removal.out.find("Cannot remove \"qzv.ua.brq.dev.exe\": it is in use\r\n"), std::string::npos)
      << removal.out;
  EXPECT_EQ(removal.exit_code, 1u);
  EXPECT_EQ(service_status(L"QZVOPCUA.BRQ").dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(GetFileAttributesW(installed_path(L"qzv.ua.brq.run").c_str()), INVALID_FILE_ATTRIBUTES);
  child_result update = install();
  EXPECT_EQ(update.out.find("Resuming"), std::string::npos) << update.out;
  EXPECT_EQ(update.exit_code, 0u) << update.out;
}

// What happens between runs: a product file marked read-only is still the
// product's to replace and delete; a restart after a power loss starts the
// server on a half-replaced set; a service disabled after an update died
// (its record left, the server stopped) stays stopped. Each next run
// completes.
TEST_F(uninstall, read_only_files_a_restart_and_a_disabled_service_end_well) {
  ASSERT_NO_FATAL_FAILURE(first_installation());
  auto mark_read_only = [](const wchar_t* name) {
    ASSERT_TRUE(SetFileAttributesW(installed_path(name).c_str(), FILE_ATTRIBUTE_READONLY)) << GetLastError();
  };
  mark_read_only(L"qzv.ua.brq.ctrl.exe");
  child_result update = child_process(installer_command()).wait(3 * 60 * 1000);
  EXPECT_EQ(update.exit_code, 0u) << update.out;
  for (const wchar_t* left : {L"qzv.ua.brq.ctrl.old", L"qzv.ua.brq.run", L"qzv.ua.brq.done"}) {
    EXPECT_EQ(GetFileAttributesW(installed_path(left).c_str()), INVALID_FILE_ATTRIBUTES) << update.out;
  }

  // Power lost while an update waited, its server swapped in; the machine
  // started again, and with it the server, which holds its file: the next
  // run puts the old server back once it has stopped it, on a line of its
  // own before the copy.
  std::wstring record = L"qzv.ua.brq.install unfinished run\nservice: QZVOPCUA.BRQ\n";
  auto write_record = [&] {
    std::ofstream(std::filesystem::path(installed_path(L"qzv.ua.brq.run")), std::ios::binary)
        .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size() * 2));
  };
  write_record();
  ASSERT_TRUE(CopyFileW(installed_path(L"qzv.ua.brq.exe").c_str(), installed_path(L"qzv.ua.brq.old").c_str(), TRUE));
  child_result resumed = child_process(installer_command()).wait(3 * 60 * 1000);
  EXPECT_EQ(resumed.exit_code, 0u) << resumed.out;
  EXPECT_NE(resumed.out.find("\r\nRestoring \"qzv.ua.brq.exe\"... ok\r\nCopying \"qzv.ua.brq.exe\"... ok\r\n"),
            std::string::npos)
      << resumed.out;

  // The same run killed after stopping the server, which is then disabled.
  write_record();
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE server = OpenServiceW(manager, L"QZVOPCUA.BRQ", SERVICE_STOP | SERVICE_CHANGE_CONFIG);
  SERVICE_STATUS status{};
  EXPECT_TRUE(ControlService(server, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(ChangeServiceConfigW(server, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr))
      << GetLastError();
  CloseServiceHandle(server);
  CloseServiceHandle(manager);
  ASSERT_TRUE(wait_for_service_state(L"QZVOPCUA.BRQ", SERVICE_STOPPED));
  child_result next = child_process(installer_command()).wait(3 * 60 * 1000);
  EXPECT_EQ(next.exit_code, 0u) << next.out;
  EXPECT_NE(next.out.find("  service \"QZVOPCUA.BRQ\"... disabled: not started\r\n"), std::string::npos) << next.out;
  EXPECT_EQ(service_status(L"QZVOPCUA.BRQ").dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(GetFileAttributesW(installed_path(L"qzv.ua.brq.run").c_str()), INVALID_FILE_ATTRIBUTES) << next.out;

  mark_read_only(L"qzv.ua.brq.dev.exe");
  child_result removal = remove();
  EXPECT_EQ(removal.exit_code, 0u) << removal.out;
  expect_nothing_left();
}

}  // namespace
}  // namespace brq_install
