#include "run_record.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "destination.hpp"
#include "install_plan.hpp"
#include "win/files.hpp"

namespace brq_install {

namespace {

// UTF-16 text, one item a line: the header, whether the services are
// every automatic one, and one service a line.
constexpr std::wstring_view header = L"qzv.ua.brq.install unfinished run";
// The earlier builds' second line, which said how far the files got before
// the commit point was a file of its own.
constexpr std::wstring_view earlier_in_place = L"files: in place";
constexpr std::wstring_view earlier_replacing = L"files: replacing";
constexpr std::wstring_view every_automatic_service = L"services: automatic";
constexpr std::wstring_view service_prefix = L"service: ";
// A record of this product is a few hundred bytes; a larger one is not ours.
constexpr size_t record_limit = 64 * 1024;
constexpr size_t max_service_name = 256;

void add_once(std::vector<std::wstring>& names, const std::wstring& name) {
  auto same = [&](const std::wstring& other) { return same_service_name(other, name); };
  if (std::find_if(names.begin(), names.end(), same) == names.end()) names.push_back(name);
}

std::vector<std::wstring> services_to_record(const install_plan& plan) {
  std::vector<std::wstring> names;
  for (const auto& [file, records] : plan.services) {
    for (const service_record& record : records) {
      if (!record.restart) continue;
      add_once(names, record.name);
      for (const std::wstring& dependent : record.dependents) add_once(names, dependent);
    }
  }
  for (const std::wstring& name : plan.journal.services) add_once(names, name);
  for (const std::wstring& name : plan.registered) add_once(names, name);
  return names;
}

std::string encode(const install_plan& plan) {
  const run_journal& journal = plan.journal;
  std::wstring text(header);
  auto line = [&text](std::wstring_view prefix, std::wstring_view value = {}) { ((text += L'\n') += prefix) += value; };
  if (journal.every_automatic_service) line(every_automatic_service);
  for (const std::wstring& name : services_to_record(plan)) line(service_prefix, name);
  text += L'\n';
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

bool is_service_name(std::wstring_view name) {
  return !name.empty() && name.size() <= max_service_name &&
         std::none_of(name.begin(), name.end(), [](wchar_t c) { return c < L' ' || c == L'\\' || c == L'/'; });
}

// The record's content into `journal`, or false when it is not a record of
// this product.
bool decode(const std::string& bytes, run_journal& journal) {
  if (bytes.size() % sizeof(wchar_t) != 0) return false;
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(text.data()));
  if (text.empty() || text.back() != L'\n') return false;
  std::vector<std::wstring_view> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find(L'\n', start);
    lines.push_back(std::wstring_view(text).substr(start, end - start));
  }
  if (lines.empty() || lines[0] != header) return false;
  size_t first = 1;
  if (lines.size() > 1 && (lines[1] == earlier_in_place || lines[1] == earlier_replacing)) {
    journal.committed_earlier = lines[1] == earlier_in_place;
    first = 2;
  }
  for (size_t i = first; i < lines.size(); ++i) {
    std::wstring_view line = lines[i];
    if (line == every_automatic_service) {
      journal.every_automatic_service = true;
    } else if (line.starts_with(service_prefix) && is_service_name(line.substr(service_prefix.size()))) {
      journal.services.emplace_back(line.substr(service_prefix.size()));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

void read_record(install_plan& plan, bool lock_abandoned) {
  std::string bytes;
  run_journal found;
  DWORD error = win::read_small_file(record_path(plan), record_limit, bytes);
  bool no_record = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  if (error == ERROR_SUCCESS && !decode(bytes, found)) error = ERROR_INVALID_DATA;
  if (error != ERROR_SUCCESS && !no_record) {
    // Whatever part of it did read counts for nothing: the services it
    // would have named are taken to be every one that starts with the
    // system, so that none stays down for good. Its files need none of it.
    report_warning({"The record of an interrupted installation cannot be read: the automatic services of the "
                    "installed files will be started\n"},
                   error);
    found = {};
    found.every_automatic_service = true;
  }
  if (lock_abandoned) {
    print_text("Resuming an interrupted installation (the last run ended without releasing its lock)...\n");
  } else if (error == ERROR_SUCCESS) {
    print_text("Resuming an interrupted installation...\n");
  }
  found.found = !no_record;
  found.entry_due = found.found;
  plan.journal = std::move(found);
}

void mark_resumed_services(install_plan& plan) {
  for (auto& [file, records] : plan.services) {
    for (service_record& record : records) {
      bool automatic = plan.journal.every_automatic_service && record.start_type == SERVICE_AUTO_START;
      if (automatic || is_resumed(plan, record.name)) record.restart = true;
    }
  }
  // With every installed file in place and discovered, those services are
  // now named one by one; until then a service of a file not seen (not
  // discovered, or not yet put back) may be one of them.
  if (plan.undiscovered.empty() && !plan.journal.recovery_deferred) plan.journal.every_automatic_service = false;
}

bool is_resumed(const install_plan& plan, std::wstring_view name) {
  const std::vector<std::wstring>& named = plan.journal.services;
  return std::any_of(named.begin(), named.end(),
                     [&](const std::wstring& resumed) { return same_service_name(resumed, name); });
}

bool save_record(const install_plan& plan) {
  std::wstring path = record_path(plan);
  DWORD error = win::write_file_durably(path, record_staging_path(plan), encode(plan));
  // No destination directory: no installed file whose run could be
  // completed (its services run files that are gone), nothing to record.
  if (error == ERROR_PATH_NOT_FOUND) return true;
  if (error != ERROR_SUCCESS) {
    report_error({"Failed to write \"", std::wstring_view(path), "\"\n"}, error);
    return false;
  }
  return true;
}

bool save_resumed_record(const install_plan& plan) { return !plan.journal.found || save_record(plan); }

void close_record(const install_plan& plan, bool services_started) {
  const run_journal& journal = plan.journal;
  if (!services_started || journal.work_left || journal.recovery_deferred || journal.recovery_left_over ||
      journal.entry_due) {
    return;
  }
  (void)win::delete_file(record_path(plan));  // left, it is a hint the next run finds harmless
}

}  // namespace brq_install
