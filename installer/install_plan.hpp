#pragma once
// The install plan: the one record that every install step shares. The entry
// point builds it with the product's fixed content; the steps fill in what
// they find.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "os_version.hpp"
#include "service_record.hpp"

namespace brq_install {

// One program the installer carries; its texts are the product's literals.
struct payload_file {
  uint16_t resource_id = 0;
  std::wstring_view name;
  crt_flavour crt = crt_flavour::unknown;  // unknown: applies everywhere
  bool firewall = false;
  bool service = false;
  std::wstring_view service_name = {};
  std::wstring_view display_name = {};
  std::wstring_view description = {};
  std::wstring_view service_args = {};
  // The installed file: the destination, a backslash and the name. Set once
  // the destination is settled.
  std::wstring path = {};
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

  // A file that this run has put in its place: its old bytes are kept in its
  // backup file (`kept_old`), or there was none, until the whole set is in.
  struct replaced_file {
    const payload_file* file;
    std::wstring path;
    bool kept_old;
  };
  std::vector<replaced_file> replaced;
  // Services that the record of an interrupted run names: they are started
  // again like the active ones, when discovery finds them.
  std::vector<std::wstring> resumed;
  // Something is left for a later run to complete (a backup file that
  // could not be deleted or restored): the record stays on disk.
  bool keep_record = false;
  // Every new file is in place: what an interruption leaves is completed,
  // not undone.
  bool files_in_place = false;
};

// Whether a payload file name names a program: at least four characters,
// ending in ".exe" in any letter case. Only programs run as services or
// processes.
bool is_executable_name(std::wstring_view name);

// The plan of this product: variant "brq", the server (101) with its service
// and firewall exception, the control tool (102) and the developer tool (103).
install_plan build_install_plan();

}  // namespace brq_install
