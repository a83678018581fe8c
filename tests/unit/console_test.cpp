// Console output: exact text, the colour of every piece, the attribute
// restored after each piece, and redirected output.
#include "unit_prelude.hpp"

#include <fcntl.h>
#include <io.h>

#include "cancellation.hpp"

namespace brq_install {
namespace {

TEST(console, warning_block_is_yellow_piece_by_piece_and_restores_the_attribute) {
  console_recorder console(true, 0x1F);  // white on blue: restored, never kept
  print_text("  service \"x\"... ");
  report_warning({"failed\n"}, ERROR_ACCESS_DENIED);
  print_text("next\n");

  std::string denied = wide_to_utf8(error_text(ERROR_ACCESS_DENIED));
  EXPECT_EQ(console.runs(), (std::vector<run>{
                                {"  service \"x\"... ", 0x1F},
                                {"failed\n" + denied + "\nWill attempt to continue...\n", color_warning},
                                {"next\n", 0x1F},
                            }));
  // failed, text, line break, will continue: each piece set and restored.
  EXPECT_EQ(console.attribute_changes, 8);
  EXPECT_EQ(console.attribute(), 0x1F);
}

TEST(console, error_block_is_light_red_with_wide_headline_pieces) {
  console_recorder console;
  report_error({"Failed to create dir \"", std::wstring_view(L"C:\\Program Files\\Quorvanta"), "\"\n"},
               ERROR_ACCESS_DENIED);

  std::string denied = wide_to_utf8(error_text(ERROR_ACCESS_DENIED));
  EXPECT_EQ(console.runs(),
            (std::vector<run>{
                {"Failed to create dir \"C:\\Program Files\\Quorvanta\"\n" + denied + "\n", color_error},
            }));
  EXPECT_EQ(console.text().find("Will attempt"), std::string::npos);
  EXPECT_EQ(console.attribute_changes, 10);  // five pieces
  EXPECT_EQ(console.attribute(), plain);
}

TEST(console, redirected_output_has_the_same_text_and_no_attributes) {
  console_recorder console(false);
  print_text("Copying \"");
  print_wide(L"qzv.ua.brq.exe");
  print_text("\"... ");
  report_error({"failed\n"}, ERROR_SHARING_VIOLATION);

  std::string text = wide_to_utf8(error_text(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(console.runs(), (std::vector<run>{{"Copying \"qzv.ua.brq.exe\"... failed\n" + text + "\n", plain}}));
  EXPECT_EQ(console.attribute_changes, 0);
  for (const auto& piece : console.pieces) EXPECT_FALSE(piece.wide);
}

TEST(console, wide_text_outside_ascii_loses_nothing_on_a_console) {
  console_recorder console;
  print_wide(L"\u4E2D\u6587 \u0414\u0430 \U0001F600");
  print_wide(L"after");
  print_text("\n");
  EXPECT_EQ(console.text(),
            "\xE4\xB8\xAD\xE6\x96\x87 \xD0\x94\xD0\xB0 \xF0\x9F\x98\x80"
            "after\n");
  EXPECT_TRUE(console.pieces[0].wide);
}

// The real C runtime stream in text mode, redirected to a file: a character
// outside Latin-1 goes out as UTF-8, later wide and narrow pieces follow, and
// line feeds become CR LF.
TEST(console, redirected_runtime_stream_keeps_everything_after_non_ascii_text) {
  std::wstring path = test::temp_file_path();

  std::fflush(stdout);
  int saved = _dup(_fileno(stdout));
  int file = _wopen(path.c_str(), _O_WRONLY | _O_TRUNC | _O_TEXT);
  ASSERT_GE(file, 0);
  _dup2(file, _fileno(stdout));
  HANDLE saved_handle = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));

  print_wide(L"\u4E2D\u6587");
  print_wide(L" after");
  print_text(" done\n");

  SetStdHandle(STD_OUTPUT_HANDLE, saved_handle);
  _dup2(saved, _fileno(stdout));
  _close(saved);
  _close(file);

  std::string bytes = test::read_file(path);
  DeleteFileW(path.c_str());
  EXPECT_EQ(bytes, "\xE4\xB8\xAD\xE6\x96\x87 after done\r\n");
}

// The console's events as the system delivers them: a user's logoff, which
// a deployment agent's run sees for every user, is acknowledged and no
// reason to stop; every other event cancels the run, and the console's
// close and the system's shutdown are held off as long as Windows allows.
TEST(console, every_event_but_a_logoff_cancels_the_run) {
  struct {
    DWORD event;
    bool cancels;
    bool holds;
  } cases[] = {{CTRL_C_EVENT, true, false},
               {CTRL_BREAK_EVENT, true, false},
               {CTRL_CLOSE_EVENT, true, true},
               {CTRL_LOGOFF_EVENT, false, false},
               {CTRL_SHUTDOWN_EVENT, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.event);
    console_recorder console;
    test::fake_clock clock;
    console_cancel cancel;
    ASSERT_NE(console.handler, nullptr);
    EXPECT_TRUE(console.handler(c.event));
    EXPECT_EQ(cancel_requested(), c.cancels);
    EXPECT_EQ(clock.sleeps, c.holds ? std::vector<DWORD>{INFINITE} : std::vector<DWORD>{});
  }
}

}  // namespace
}  // namespace brq_install
