// The record an interrupted run leaves: what the next run says about it, the
// services it takes from it, how it puts the files in order, and the record
// it writes in its place.
#include "unit_prelude.hpp"

#include <filesystem>
#include <fstream>

#include "file_transaction.hpp"
#include "run_record.hpp"

namespace brq_install {
namespace {

std::string utf16(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

const std::wstring header = L"qzv.ua.brq.install unfinished run\n";
const std::string named = utf16(header + L"service: QZVOPCUA.BRQ\nservice: other\n");
const std::string resuming = "Resuming an interrupted installation...\n";
const std::string restored = "Restoring \"qzv.ua.brq.exe\"... ok\n";
std::string unreadable(DWORD code) {
  return "The record of an interrupted installation cannot be read: the automatic services of the installed files "
         "will be started\n" +
         text_of(code) + "\nWill attempt to continue...\n";
}
const std::wstring automatic = header + L"services: automatic\n";

using files = std::vector<std::pair<const wchar_t*, std::string>>;
// A run killed while it replaced the server: the new server in place, the
// old one in its backup, the control tool half staged; and the same run
// killed after its commit point.
const files killed_while_replacing = {
    {L"qzv.ua.brq.exe", "new"}, {L"qzv.ua.brq.old", "old"}, {L"qzv.ua.brq.ctrl.new", "half a new control tool"}};
const files killed_after_commit = {{L"qzv.ua.brq.exe", "new"}, {L"qzv.ua.brq.old", "old"}, {L"qzv.ua.brq.done", ""}};

TEST(run_record, the_next_run_resumes_what_the_record_says_and_rewrites_it) {
  struct {
    const char* what;
    std::string record;  // "-": none; "held": there, but held open by another program
    std::vector<run> output;
    std::wstring rewritten;  // the record afterwards; empty: none
    std::string server;      // afterwards
    files disk = killed_while_replacing;
    bool abandoned = false;
  } cases[] = {
      // No record, no replacement: a backup is never put back, only deleted.
      {"no record", "-", {}, L"", "new"},
      {"files being replaced",
       named,
       {{resuming + restored, plain}},
       header + L"service: QZVOPCUA.BRQ\nservice: other\n",
       "old"},
      {"committed",
       named,
       {{resuming, plain}},
       header + L"service: QZVOPCUA.BRQ\nservice: other\n",
       "new",
       killed_after_commit},
      {"a file added where there was none: its marker says so",
       utf16(header),
       {{resuming + "Removing \"qzv.ua.brq.ctrl.exe\"... ok\n", plain}},
       header,
       "",
       {{L"qzv.ua.brq.ctrl.exe", "new"}, {L"qzv.ua.brq.ctrl.add", ""}}},
      {"an empty old file is put back like any other",
       utf16(header),
       {{resuming + restored, plain}},
       header,
       "",
       {{L"qzv.ua.brq.exe", "new"}, {L"qzv.ua.brq.old", ""}}},
      {"lock abandoned, no record",
       "-",
       {{"Resuming an interrupted installation (the last run ended without releasing its lock)...\n", plain}},
       L"",
       "new",
       killed_while_replacing,
       true},
      {"every automatic service", utf16(automatic), {{resuming + restored, plain}}, automatic, "old"},
      {"a name with a blank",
       utf16(header + L"service: QZV OPCUA\n"),
       {{resuming + restored, plain}},
       header + L"service: QZV OPCUA\n",
       "old"},
      {"not a record", "hello", {{unreadable(ERROR_INVALID_DATA), color_warning}, {restored, plain}}, automatic, "old"},
      {"not a record, committed",
       "hello",
       {{unreadable(ERROR_INVALID_DATA), color_warning}},
       automatic,
       "new",
       killed_after_commit},
      {"an earlier build's, its files in place",
       utf16(header + L"files: in place\nservice: QZVOPCUA.BRQ\n"),
       {{resuming, plain}},
       header + L"service: QZVOPCUA.BRQ\n",
       "new"},
      {"another version's",
       utf16(header + L"service: QZVOPCUA.BRQ\nstate: 3\n"),
       {{unreadable(ERROR_INVALID_DATA), color_warning}, {restored, plain}},
       automatic,
       "old"},
      {"a name with a backslash",
       utf16(header + L"service: a\\b\n"),
       {{unreadable(ERROR_INVALID_DATA), color_warning}, {restored, plain}},
       automatic,
       "old"},
      {"no last line break",
       named.substr(0, named.size() - 2),
       {{unreadable(ERROR_INVALID_DATA), color_warning}, {restored, plain}},
       automatic,
       "old"},
      {"oversized",
       std::string(70000, 'x'),
       {{unreadable(ERROR_FILE_TOO_LARGE), color_warning}, {restored, plain}},
       automatic,
       "old"},
      // The files are put in order from the disk; the record cannot be
      // written, and the run goes no further (the error's text is the file
      // system's).
      {"held open by another program",
       "held",
       {{unreadable(ERROR_SHARING_VIOLATION), color_warning},
        {restored, plain},
        {"Failed to write \"%r\"\n", color_error}},
       L"held",
       "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::temp_tree destination;
    test::console_recorder console;
    install_plan plan = test::product_plan(destination.path());
    std::wstring record = destination.path() + L"\\qzv.ua.brq.run";
    auto write = [&](const wchar_t* name, const std::string& bytes) {
      std::ofstream(std::filesystem::path(destination.path() + L"\\" + name), std::ios::binary) << bytes;
    };
    if (c.record != "-") write(L"qzv.ua.brq.run", c.record == "held" ? "held" : c.record);
    for (const auto& [name, bytes] : c.disk) write(name, bytes);
    HANDLE held = c.record == "held" ? CreateFileW(record.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE;

    read_record(plan, c.abandoned);
    bool writable = c.rewritten != L"held";
    EXPECT_TRUE(recover_files(plan));
    EXPECT_EQ(save_resumed_record(plan), writable);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

    std::vector<run> output = console.runs(), expected = c.output;
    for (run& r : expected) {
      if (size_t at = r.text.find("%r"); at != std::string::npos) r.text.replace(at, 2, wide_to_utf8(record));
    }
    if (!writable) output.back().text.resize(std::min(output.back().text.size(), expected.back().text.size()));
    EXPECT_EQ(output, expected);
    std::string on_disk = test::read_file(record);
    EXPECT_EQ(on_disk, c.rewritten == L"held" ? "held" : utf16(c.rewritten));
    EXPECT_EQ(test::read_file(destination.path() + L"\\qzv.ua.brq.exe"), c.server);
    for (const wchar_t* gone : {L"\\qzv.ua.brq.old", L"\\qzv.ua.brq.ctrl.new", L"\\qzv.ua.brq.ctrl.exe",
                                L"\\qzv.ua.brq.ctrl.add", L"\\qzv.ua.brq.done"}) {
      std::wstring_view name(gone);
      bool stray = c.record == "-" && name == L"\\qzv.ua.brq.ctrl.new";
      EXPECT_EQ(GetFileAttributesW((destination.path() + gone).c_str()) == INVALID_FILE_ATTRIBUTES, !stray) << gone;
    }
  }
}

// A backup that cannot be put back ends the run before anything starts on
// a mixed set; one whose file a program holds (a service started since, at
// boot say) waits for the services to be stopped, and the record keeps
// speaking of the dead run's files until then.
TEST(run_record, a_file_that_cannot_be_put_back_ends_the_run_and_a_held_one_waits_for_the_copy) {
  for (bool held : {false, true}) {
    SCOPED_TRACE(held ? "held" : "refused");
    test::temp_tree destination;
    test::console_recorder console;
    install_plan plan = test::product_plan(destination.path());
    std::wstring server = destination.file(L"qzv.ua.brq.exe");
    std::ofstream(std::filesystem::path(destination.file(L"qzv.ua.brq.old"))) << "old";
    std::ofstream(std::filesystem::path(destination.file(L"qzv.ua.brq.run")), std::ios::binary) << utf16(header);
    HANDLE open = held ? CreateFileW(server.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr;
    {
      test::scoped_override refuse(
          win::api.MoveFileExW, held ? win::api.MoveFileExW : +[](const wchar_t*, const wchar_t*, DWORD) -> BOOL {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
          });
      read_record(plan, false);
      EXPECT_EQ(recover_files(plan), held);
    }
    EXPECT_EQ(plan.journal.recovery_deferred, held);
    if (!held) {
      EXPECT_EQ(console.runs(), (std::vector<run>{{resuming + "Restoring \"qzv.ua.brq.exe\"... ", plain},
                                                  {"failed\n" + text_of(ERROR_ACCESS_DENIED) + "\n", color_error}}));
      continue;
    }
    EXPECT_EQ(console.text(), resuming);
    CloseHandle(open);
    EXPECT_TRUE(finish_recovery(plan) && begin_replacement(plan));
    EXPECT_EQ(console.text(), resuming + restored);
    EXPECT_EQ(test::read_file(destination.path() + L"\\qzv.ua.brq.run"), utf16(header));
  }
}

}  // namespace
}  // namespace brq_install
