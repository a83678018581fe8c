#include "uninstall_entry.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "install_plan.hpp"
#include "product.h"
#include "uninstall_key.hpp"
#include "win/files.hpp"
#include "win/registry.hpp"

namespace brq_install {

namespace {

// The installed files' size in KB, rounded up, as Programs and Features
// shows it.
DWORD installed_size_kb(const install_plan& plan, DWORD& error) {
  uint64_t bytes = 0;
  for (const payload_file& file : plan.files) {
    bool there = false;
    uint64_t size = 0;
    if ((error = win::find_file(file.path, there, size)) != ERROR_SUCCESS) return 0;
    bytes += size;
  }
  return static_cast<DWORD>(std::min<uint64_t>((bytes + 1023) / 1024, MAXDWORD));
}

const payload_file* find(const install_plan& plan, bool payload_file::*flag) {
  auto it = std::ranges::find_if(plan.files, [&](const payload_file& file) { return file.*flag; });
  return it != plan.files.end() ? &*it : nullptr;
}

}  // namespace

bool write_uninstall_entry(install_plan& plan) {
  print({"Writing uninstall entry \"", uninstall_key_name, "\"... "});
  DWORD error = ERROR_SUCCESS;
  DWORD size_kb = installed_size_kb(plan, error);
  if (error == ERROR_SUCCESS) {
    const payload_file* removal = find(plan, &payload_file::removes_product);
    const payload_file* server = find(plan, &payload_file::service);
    std::wstring removal_command = removal != nullptr ? L"\"" + removal->path + L"\"" : std::wstring();
    std::vector<win::registry_value> values = {
        {L"DisplayName", L"" BRQ_DISPLAY_NAME},
        {L"DisplayVersion", L"" BRQ_VERSION_TEXT},
        {L"Publisher", L"" BRQ_PUBLISHER},
        {L"InstallLocation", plan.destination},
        {L"DisplayIcon", server != nullptr ? server->path + L",0" : std::wstring()},
        {L"UninstallString", removal_command},
        {L"QuietUninstallString", removal_command},
        {L"NoModify", DWORD{1}},
        {L"NoRepair", DWORD{1}},
        {L"EstimatedSize", size_kb},
    };
    error = win::write_machine_key(uninstall_key_path, values);
  }
  if (end_line(error, failure_block::error) != ERROR_SUCCESS) return false;
  plan.journal.entry_due = false;
  return true;
}

}  // namespace brq_install
