#pragma once
// The install plan: the one record that every install step shares. The entry
// point builds it with the product's fixed content; the steps fill in what
// they find.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "crt_flavour.hpp"
#include "service_record.hpp"

namespace brq_install {

// Where an installed file stands in the replacement of the set
// (file_transaction.hpp). A file that was not there has a marker instead
// of a backup, which says so.
enum class file_state {
  untouched,    // as the run found it
  staged,       // its new bytes written and flushed beside it
  moved_aside,  // its old bytes moved to its backup, the new not yet in
  marked,       // there was none: its marker written, the new not yet in
  replaced,     // the new file in its place, the old one in its backup
  created,      // the new file in its place, where there was none
  committed,    // the new file in its place for good
};

// One program the installer carries; its texts are the product's literals.
struct payload_file {
  uint16_t resource_id = 0;
  std::wstring_view name;
  crt_flavour crt = crt_flavour::unknown;  // unknown: applies everywhere
  bool firewall = false;
  bool service = false;
  bool removes_product = false;  // the removal program, which the entry names
  std::wstring_view service_name = {};
  std::wstring_view display_name = {};
  std::wstring_view description = {};
  std::wstring_view service_args = {};
  // The installed file: the destination, a backslash and the name. Set once
  // the destination is settled.
  std::wstring path = {};
  file_state state = file_state::untouched;
};

// What the record of an interrupted run says (run_record.hpp), read at the
// start of a run and kept while its work is not done; this run's own
// changes go into it as well, so that every write of it tells the next run
// what that one needs. How far a replacement of the files got is never in
// it: the disk says that (file_transaction.hpp).
struct run_journal {
  bool found = false;  // a record was there when the run began
  // Its services cannot be known (it could not be read): every automatic
  // service of the installed files is to be started again, until a run
  // whose discovery saw every installed file names them.
  bool every_automatic_service = false;
  std::vector<std::wstring> services;  // the services it names
  // Written by an earlier build, it says its new files were all in place:
  // that build's commit point, which it kept in the record.
  bool committed_earlier = false;
  // A dead run's files that a program held open: put in order once the
  // services are stopped.
  bool recovery_deferred = false;
  // A dead run's committed backups that could not be deleted, reported:
  // no new replacement begins before they are gone.
  bool recovery_left_over = false;
  // The entry in Programs and Features may not name the files in place: a
  // record was found (its run may have committed without writing it), or
  // this run committed its files. The record stays until a run writes it,
  // so that detection sees the update unfinished.
  bool entry_due = false;
  // Something is left for a later run to complete (a file that could not
  // be put back, a backup that could not be deleted): the record stays.
  bool work_left = false;
};

struct install_plan {
  std::wstring_view variant;
  os_version os;
  crt_flavour crt = crt_flavour::unknown;
  std::wstring destination;  // without a trailing backslash
  // The payload files; once the destination is settled, only those meant
  // for this Windows, each with its path.
  std::vector<payload_file> files;
  // Payload file name to the services found for it. A file is a key only
  // when a service was found; a key, once inserted, keeps its first list.
  std::unordered_map<std::wstring, std::vector<service_record>> services;
  std::vector<std::wstring> registered;  // services created in this run
  // Payload file names whose services could not be discovered. A service of
  // such a file would be neither stopped nor started again, so its processes
  // are not ended either: the copy then finds the file held, and the run
  // ends with the services as they were.
  std::vector<std::wstring> undiscovered;
  run_journal journal;
};

// Whether a payload file name names a program: at least four characters,
// ending in ".exe" in any letter case. Only programs run as services or
// processes.
[[nodiscard]] bool is_executable_name(std::wstring_view name);

// The plan of this product: variant "brq", the server (101) with its service
// and firewall exception, the control tool (102), the developer tool (103)
// and the removal program (104).
install_plan build_install_plan();

}  // namespace brq_install
