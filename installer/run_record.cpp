#include "run_record.hpp"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "file_set.hpp"
#include "install_plan.hpp"
#include "win/files.hpp"

namespace brq_install {

namespace {

// UTF-16 text, one item a line: the header, whether the new files are in
// place, then one service name a line.
constexpr std::wstring_view header = L"qzv.ua.brq.install unfinished run";
constexpr std::wstring_view files_replacing = L"files: replacing";
constexpr std::wstring_view files_in_place = L"files: in place";
constexpr std::wstring_view service_prefix = L"service: ";
// A record of this product is a few hundred bytes; a larger one is not ours.
constexpr size_t record_limit = 64 * 1024;
constexpr size_t max_service_name = 256;

std::wstring record_path(const install_plan& plan) { return plan.destination + L"\\" + std::wstring(record_file_name); }

bool same_name(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return towupper(x) == towupper(y); });
}

void add_once(std::vector<std::wstring>& names, const std::wstring& name) {
  auto same = [&](const std::wstring& other) { return same_name(other, name); };
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
  for (const std::wstring& name : plan.resumed) add_once(names, name);
  for (const std::wstring& name : plan.registered) add_once(names, name);
  return names;
}

std::string encode(const install_plan& plan) {
  std::wstring text(header);
  text += L'\n';
  text += plan.files_in_place ? files_in_place : files_replacing;
  text += L'\n';
  for (const std::wstring& name : services_to_record(plan)) {
    text += service_prefix;
    text += name;
    text += L'\n';
  }
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

bool is_service_name(std::wstring_view name) {
  return !name.empty() && name.size() <= max_service_name &&
         std::none_of(name.begin(), name.end(), [](wchar_t c) { return c < L' ' || c == L'\\' || c == L'/'; });
}

// The record's content, or false when it is not a record of this product.
bool decode(const std::string& bytes, bool& in_place, std::vector<std::wstring>& services) {
  if (bytes.size() % sizeof(wchar_t) != 0) return false;
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(text.data()));
  if (text.empty() || text.back() != L'\n') return false;
  std::vector<std::wstring_view> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find(L'\n', start);
    lines.push_back(std::wstring_view(text).substr(start, end - start));
  }
  if (lines.size() < 2 || lines[0] != header) return false;
  if (lines[1] != files_in_place && lines[1] != files_replacing) return false;
  in_place = lines[1] == files_in_place;
  for (size_t i = 2; i < lines.size(); ++i) {
    std::wstring_view name = lines[i].substr(std::min(lines[i].size(), service_prefix.size()));
    if (!lines[i].starts_with(service_prefix) || !is_service_name(name)) return false;
    services.emplace_back(name);
  }
  return true;
}

}  // namespace

bool resume_interrupted_run(install_plan& plan, bool lock_abandoned) {
  std::string bytes;
  bool in_place = false;
  std::vector<std::wstring> services;
  DWORD error = win::read_small_file(record_path(plan), record_limit, bytes);
  bool no_record = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  if (error == ERROR_SUCCESS && !decode(bytes, in_place, services)) {
    error = ERROR_INVALID_DATA;  // ignored whole, whatever part of it did read
    in_place = false;
    services.clear();
  }
  if (error != ERROR_SUCCESS && !no_record) {
    report_warning({"Ignoring the record of an interrupted installation\n"}, error);
  }
  if (lock_abandoned) {
    print_text("Resuming an interrupted installation (the last run ended without releasing its lock)...\n");
  } else if (error == ERROR_SUCCESS) {
    print_text("Resuming an interrupted installation...\n");
  }
  plan.resumed = std::move(services);
  return recover_files(plan, in_place);
}

void mark_resumed_services(install_plan& plan) {
  for (auto& [file, records] : plan.services) {
    for (service_record& record : records) {
      if (is_resumed(plan, record.name)) record.restart = true;
    }
  }
}

bool is_resumed(const install_plan& plan, std::wstring_view name) {
  return std::any_of(plan.resumed.begin(), plan.resumed.end(),
                     [&](const std::wstring& resumed) { return same_name(resumed, name); });
}

bool save_record(const install_plan& plan) {
  std::wstring path = record_path(plan);
  DWORD error = win::write_file_durably(path, path + L".new", encode(plan));
  // No destination directory: no installed file whose run could be
  // completed (its services run files that are gone), nothing to record.
  if (error == ERROR_PATH_NOT_FOUND) return true;
  if (error != ERROR_SUCCESS) {
    report_error({"Failed to write \"", std::wstring_view(path), "\"\n"}, error);
    return false;
  }
  return true;
}

void remove_record(const install_plan& plan) { (void)win::delete_file(record_path(plan)); }

}  // namespace brq_install
