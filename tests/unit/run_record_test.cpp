// The record an interrupted run leaves: what the next run says about it, the
// services it takes from it, and how it puts the files in order.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "console/console.hpp"
#include "console_recorder.hpp"
#include "files.hpp"
#include "product_plan.hpp"
#include "run_record.hpp"

namespace brq_install {
namespace {

using test::text_of;
using run = test::console_recorder::run;
constexpr WORD plain = test::console_recorder::plain;

std::string utf16(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

const std::string replacing = utf16(
    L"qzv.ua.brq.install unfinished run\nfiles: replacing\nservice: QZVOPCUA.BRQ\n"
    L"service: other\n");
const std::string in_place = utf16(L"qzv.ua.brq.install unfinished run\nfiles: in place\nservice: QZVOPCUA.BRQ\n");
const std::string resuming = "Resuming an interrupted installation...\n";
const std::string restored = "Restoring \"qzv.ua.brq.exe\"... ok\n";
std::string ignored(DWORD code) {
  return "Ignoring the record of an interrupted installation\n" + text_of(code) + "\nWill attempt to continue...\n";
}

// The product's plan on Windows 10, installed into `destination`.
install_plan plan_in(const test::temp_tree& destination) {
  install_plan plan = test::product_plan(destination.path());
  return plan;
}

TEST(run_record, the_next_run_resumes_what_the_record_says_and_ignores_a_record_that_is_not_one) {
  struct {
    const char* what;
    std::string record;  // "-": none
    bool abandoned;
    std::vector<run> output;
    std::vector<std::wstring> resumed;
    const char* server;  // the server file afterwards
  } cases[] = {
      {"no record", "-", false, {{restored, plain}}, {}, "old"},  // a backup without a record is put back
      {"files being replaced", replacing, false, {{resuming + restored, plain}}, {L"QZVOPCUA.BRQ", L"other"}, "old"},
      {"files in place", in_place, false, {{resuming, plain}}, {L"QZVOPCUA.BRQ"}, "new"},
      {"lock abandoned, no record",
       "-",
       true,
       {{"Resuming an interrupted installation (the last run ended without releasing its lock)...\n" + restored,
         plain}},
       {},
       "old"},
      {"not a record", "hello", false, {{ignored(ERROR_INVALID_DATA), color_warning}, {restored, plain}}, {}, "old"},
      {"a name with a backslash",
       utf16(L"qzv.ua.brq.install unfinished run\nfiles: in place\nservice: a\\b\n"),
       false,
       {{ignored(ERROR_INVALID_DATA), color_warning}, {restored, plain}},
       {},
       "old"},
      {"no last line break",
       in_place.substr(0, in_place.size() - 2),
       false,
       {{ignored(ERROR_INVALID_DATA), color_warning}, {restored, plain}},
       {},
       "old"},
      {"oversized",
       std::string(70000, 'x'),
       false,
       {{ignored(ERROR_FILE_TOO_LARGE), color_warning}, {restored, plain}},
       {},
       "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::temp_tree destination;
    test::console_recorder console;
    install_plan plan = plan_in(destination);
    auto write = [&](const wchar_t* name, const std::string& bytes) {
      std::ofstream(std::filesystem::path(destination.path() + L"\\" + name), std::ios::binary) << bytes;
    };
    if (c.record != "-") write(L"qzv.ua.brq.run", c.record);
    write(L"qzv.ua.brq.exe", "new");
    write(L"qzv.ua.brq.old", "old");
    write(L"qzv.ua.brq.ctrl.new", "half a new control tool");

    EXPECT_TRUE(resume_interrupted_run(plan, c.abandoned));
    EXPECT_EQ(console.runs(), c.output);
    EXPECT_EQ(plan.resumed, c.resumed);
    EXPECT_EQ(test::read_file(destination.path() + L"\\qzv.ua.brq.exe"), c.server);
    for (const wchar_t* gone : {L"\\qzv.ua.brq.old", L"\\qzv.ua.brq.ctrl.new"}) {
      EXPECT_EQ(GetFileAttributesW((destination.path() + gone).c_str()), INVALID_FILE_ATTRIBUTES);
    }
  }
}

TEST(run_record, a_file_that_cannot_be_put_back_ends_the_run) {
  test::temp_tree destination;
  test::console_recorder console;
  install_plan plan = plan_in(destination);
  std::wstring server = destination.file(L"qzv.ua.brq.exe");
  destination.file(L"qzv.ua.brq.old");
  HANDLE held = CreateFileW(server.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(resume_interrupted_run(plan, false));
  CloseHandle(held);
  std::vector<run> output = console.runs();
  ASSERT_EQ(output.size(), 2u);
  EXPECT_EQ(output[0], (run{"Restoring \"qzv.ua.brq.exe\"... ", plain}));
  EXPECT_EQ(output[1].text.substr(0, 7), "failed\n");
  EXPECT_EQ(output[1].attribute, color_error);
}

}  // namespace
}  // namespace brq_install
