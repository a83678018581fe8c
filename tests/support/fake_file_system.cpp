#include "fake_file_system.hpp"

#include <algorithm>
#include <cwchar>

namespace brq_install::test {

fake_file_system* fake_file_system::current = nullptr;

namespace {

using node = fake_file_system::node;
constexpr DWORD data_access = GENERIC_READ | GENERIC_WRITE;
// The attributes SetFileAttributesW sets; the rest are the file system's.
constexpr DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A read-only file can be read, moved and renamed, but not written,
// replaced or deleted (5).
bool read_only(const node& file) { return (file.attributes & FILE_ATTRIBUTE_READONLY) != 0; }


fake_file_system& files() { return *fake_file_system::current; }
const win::platform_table& before() { return files().previous; }

template <typename Result>
Result fail(DWORD error, Result result) {
  ::SetLastError(error);
  return result;
}

// The image of a running program can be read and renamed, but not written
// (32), replaced or deleted (5).
bool running(const std::wstring& path) { return files().image_running && files().image_running(path); }

bool same_text(std::wstring_view a, std::wstring_view b) {
  return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

bool below_root(std::wstring_view path) {
  const std::wstring& root = files().root;
  return path.size() >= root.size() && same_text(path.substr(0, root.size()), root) &&
         (path.size() == root.size() || path[root.size()] == L'\\');
}

std::wstring parent_of(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

node* find(const std::wstring& path) {
  auto it = files().nodes.find(path);
  return it != files().nodes.end() ? &it->second : nullptr;
}

// Why there is nothing at `path`: 2, or 3 when its directory is not there.
DWORD missing(const std::wstring& path) {
  const node* parent = find(parent_of(path));
  return parent != nullptr && parent->directory ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Whether an open handle of `path` stands in the way of an open with
// `access` and `share`, or of a move or deletion (`share` without
// FILE_SHARE_DELETE, `access` 0).
bool in_use(const std::wstring& path, DWORD access, DWORD share, bool deleting) {
  bool conflict = false;
  files().each_open([&](const open_file& other) {
    if (!same_text(other.path, path)) return;
    if (deleting) {
      conflict |= (other.share & FILE_SHARE_DELETE) == 0;
    } else if ((access & data_access) != 0) {  // an open that asks no access is never refused
      bool read_refused = (access & GENERIC_READ) != 0 && (other.share & FILE_SHARE_READ) == 0;
      bool write_refused = (access & GENERIC_WRITE) != 0 && (other.share & FILE_SHARE_WRITE) == 0;
      bool other_refused = ((other.access & GENERIC_READ) != 0 && (share & FILE_SHARE_READ) == 0) ||
                           ((other.access & GENERIC_WRITE) != 0 && (share & FILE_SHARE_WRITE) == 0);
      conflict |= read_refused || write_refused || other_refused;
    }
  });
  return conflict;
}

// Notes `path` as traversed when a component after its first `parsed`
// characters is a reparse point, but for the last one opened as itself.
void note_traversal(const std::wstring& path, size_t parsed, bool open_link) {
  for (size_t k = path.find(L'\\', parsed + 1);; k = path.find(L'\\', k + 1)) {
    const node* level = find(path.substr(0, k));
    if (level != nullptr && (level->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !(open_link && k == path.npos))
      return files().traversed.push_back(path);
    if (k == path.npos) return;
  }
}

open_file* opened(HANDLE handle, DWORD access, node** file) {
  open_file* open = files().lookup(handle);
  *file = open != nullptr ? find(open->path) : nullptr;
  if (*file == nullptr) return fail(ERROR_INVALID_HANDLE, nullptr);
  if ((open->access & access) != access) return fail(ERROR_ACCESS_DENIED, nullptr);
  return open;
}

}  // namespace

// The replacements, friends of the fake for its counter of file indexes.
struct file_calls {
  static HANDLE WINAPI create(const wchar_t* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                              DWORD disposition, DWORD flags, HANDLE model) {
    std::wstring path(name);
    if (!below_root(path)) return before().CreateFileW(name, access, share, security, disposition, flags, model);
    const node* parent = find(parent_of(path));
    if (parent == nullptr || !parent->directory) return fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    note_traversal(path, files().root.size(), (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0);
    node* file = find(path);
    if (file == nullptr && disposition != CREATE_ALWAYS) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    bool existed = file != nullptr;
    if (existed && file->directory &&
        (disposition != OPEN_EXISTING || (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0 || (access & GENERIC_WRITE))) {
      return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    bool written = (access & GENERIC_WRITE) != 0;
    if (existed && ((file->held && (access & data_access) != 0) || (written && running(path)) ||
                    in_use(path, access, share, false))) {
      return fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    }
    if (existed && read_only(*file) && ((access & GENERIC_WRITE) != 0 || disposition == CREATE_ALWAYS)) {
      return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    if (!existed) file = &(files().nodes[path] = files().new_node(false));
    if (disposition == CREATE_ALWAYS) file->bytes.clear();
    ::SetLastError(existed && disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return files().hand_out({path, access, share});
  }

  // An existing file opened by its NT path or by its name below a directory
  // handle of the fake; the components of that name alone are parsed.
  static NTSTATUS NTAPI nt_create(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* object, IO_STATUS_BLOCK* io,
                                  LARGE_INTEGER* size, ULONG attributes, ULONG share, ULONG disposition, ULONG options,
                                  void* ea, ULONG ea_size) {
    std::wstring name(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
    const open_file* directory = object->RootDirectory ? files().lookup(object->RootDirectory) : nullptr;
    std::wstring path = directory ? directory->path + L"\\" + name : name.substr(name.starts_with(LR"(\??\)") ? 4 : 0);
    if (directory == nullptr && !below_root(path)) {
      return before().NtCreateFile(handle, access, object, io, size, attributes, share, disposition, options, ea,
                                   ea_size);
    }
    if (find(path) == nullptr || disposition != FILE_OPEN) return static_cast<NTSTATUS>(0xC0000034);  // not found
    note_traversal(path, directory ? directory->path.size() : 2, (options & FILE_OPEN_REPARSE_POINT) != 0);
    *handle = files().hand_out({path, access, share});
    return 0;
  }

  static BOOL WINAPI read(HANDLE handle, void* buffer, DWORD size, DWORD* done, OVERLAPPED* overlapped) {
    if (!files().owns(handle)) return before().ReadFile(handle, buffer, size, done, overlapped);
    node* file = nullptr;
    open_file* open = opened(handle, GENERIC_READ, &file);
    if (open == nullptr) return FALSE;
    size_t count = std::min<size_t>(size, file->bytes.size() - std::min(open->position, file->bytes.size()));
    std::copy_n(file->bytes.data() + open->position, count, static_cast<char*>(buffer));
    open->position += count;
    *done = static_cast<DWORD>(count);
    return TRUE;
  }

  static BOOL WINAPI write(HANDLE handle, const void* data, DWORD size, DWORD* done, OVERLAPPED* overlapped) {
    if (!files().owns(handle)) return before().WriteFile(handle, data, size, done, overlapped);
    node* file = nullptr;
    open_file* open = opened(handle, GENERIC_WRITE, &file);
    if (open == nullptr) return FALSE;
    file->bytes.resize(std::max(file->bytes.size(), open->position + size));
    std::copy_n(static_cast<const char*>(data), size, file->bytes.data() + open->position);
    open->position += size;
    *done = size;
    return TRUE;
  }

  static BOOL WINAPI flush(HANDLE handle) {
    if (!files().owns(handle)) return before().FlushFileBuffers(handle);
    node* file = nullptr;
    return opened(handle, GENERIC_WRITE, &file) != nullptr;
  }

  static BOOL WINAPI information(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
    if (!files().owns(handle)) return before().GetFileInformationByHandle(handle, info);
    node* file = nullptr;
    if (opened(handle, 0, &file) == nullptr) return FALSE;
    *info = {};
    info->dwFileAttributes = (file->directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) | file->attributes;
    info->dwVolumeSerialNumber = 0x5EE9;
    info->nFileIndexLow = file->index;
    info->nFileSizeLow = static_cast<DWORD>(file->bytes.size());
    return TRUE;
  }

  static BOOL WINAPI close(HANDLE handle) {
    if (!files().owns(handle)) return before().CloseHandle(handle);
    return files().close(handle) ? TRUE : fail(ERROR_INVALID_HANDLE, FALSE);
  }

  static DWORD WINAPI attributes(const wchar_t* name) {
    std::wstring path(name);
    if (!below_root(path)) return before().GetFileAttributesW(name);
    const node* file = find(path);
    if (file == nullptr) return fail(missing(path), INVALID_FILE_ATTRIBUTES);
    return (file->directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) | file->attributes;
  }

  static BOOL WINAPI create_directory(const wchar_t* name, SECURITY_ATTRIBUTES* security) {
    std::wstring path(name);
    if (!below_root(path)) return before().CreateDirectoryW(name, security);
    if (find(path) != nullptr) return fail(ERROR_ALREADY_EXISTS, FALSE);
    const node* parent = find(parent_of(path));
    if (parent == nullptr || !parent->directory) return fail(ERROR_PATH_NOT_FOUND, FALSE);
    files().nodes[path] = files().new_node(true);
    return TRUE;
  }

  static BOOL WINAPI remove_directory(const wchar_t* name) {
    std::wstring path(name);
    if (!below_root(path)) return before().RemoveDirectoryW(name);
    auto it = files().nodes.find(path);
    if (it == files().nodes.end()) return fail(missing(path), FALSE);
    if (!it->second.directory) return fail(ERROR_DIRECTORY, FALSE);
    bool empty = std::none_of(files().nodes.begin(), files().nodes.end(),
                              [&](const auto& entry) { return below(entry.first, path); });
    if (!empty) return fail(ERROR_DIR_NOT_EMPTY, FALSE);
    files().nodes.erase(it);
    return TRUE;
  }

  static BOOL WINAPI delete_file(const wchar_t* name) {
    std::wstring path(name);
    if (!below_root(path)) return before().DeleteFileW(name);
    auto it = files().nodes.find(path);
    if (it == files().nodes.end()) return fail(missing(path), FALSE);
    if (it->second.directory || read_only(it->second) || running(path)) return fail(ERROR_ACCESS_DENIED, FALSE);
    if (it->second.held || in_use(path, 0, 0, true)) return fail(ERROR_SHARING_VIOLATION, FALSE);
    files().nodes.erase(it);
    return TRUE;
  }

  static BOOL WINAPI move(const wchar_t* from_name, const wchar_t* to_name, DWORD flags) {
    if (to_name == nullptr && (flags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0) return delete_at_restart(from_name);
    std::wstring from(from_name), to(to_name);
    if (!below_root(from) && !below_root(to)) return before().MoveFileExW(from_name, to_name, flags);
    auto it = files().nodes.find(from);
    if (it == files().nodes.end()) return fail(missing(from), FALSE);
    if (it->second.directory) return fail(ERROR_ACCESS_DENIED, FALSE);
    if (it->second.held || in_use(from, 0, 0, true)) return fail(ERROR_SHARING_VIOLATION, FALSE);
    const node* parent = find(parent_of(to));
    if (parent == nullptr || !parent->directory) return fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (const node* target = find(to); target != nullptr && !same_text(from, to)) {
      if (target->directory || target->held || read_only(*target) || running(to) || in_use(to, 0, 0, true)) {
        return fail(ERROR_ACCESS_DENIED, FALSE);
      }
      if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return fail(ERROR_ALREADY_EXISTS, FALSE);
    }
    node moved = std::move(it->second);
    files().nodes.erase(it);
    files().nodes[to] = std::move(moved);
    return TRUE;
  }

  // Windows keeps the name for the next restart, only an administrator's
  // call may, and the file need not be there.
  static BOOL WINAPI delete_at_restart(const wchar_t* name) {
    std::wstring path(name);
    if (!below_root(path)) return before().MoveFileExW(name, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    files().deleted_at_restart.push_back(path);
    return TRUE;
  }

  // A new empty file "<prefix><hex>.tmp" in `directory`, its number returned.
  static UINT WINAPI temp_file_name(const wchar_t* directory, const wchar_t* prefix, UINT unique, wchar_t* name) {
    std::wstring dir(directory);
    if (!below_root(dir)) return before().GetTempFileNameW(directory, prefix, unique, name);
    const node* parent = find(dir);
    if (parent == nullptr || !parent->directory) return fail(ERROR_DIRECTORY, 0u);
    for (UINT number = 1;; ++number) {
      wchar_t hex[8];
      swprintf(hex, 8, L"%X", number);
      std::wstring path = dir + L"\\" + std::wstring(prefix).substr(0, 3) + hex + L".tmp";
      if (find(path) != nullptr) continue;
      files().nodes[path] = files().new_node(false);
      std::ranges::copy(path, name);
      name[path.size()] = L'\0';
      return number;
    }
  }

  static UINT WINAPI windows_directory(wchar_t* buffer, UINT size) {
    std::wstring windows = files().root + L"\\Windows";
    if (size <= windows.size()) return static_cast<UINT>(windows.size() + 1);
    std::ranges::copy(windows, buffer);
    buffer[windows.size()] = L'\0';
    return static_cast<UINT>(windows.size());
  }

  static BOOL WINAPI set_attributes(const wchar_t* name, DWORD attributes) {
    std::wstring path(name);
    if (!below_root(path)) return before().SetFileAttributesW(name, attributes);
    node* file = find(path);
    if (file == nullptr) return fail(missing(path), FALSE);
    file->attributes = (file->attributes & ~settable) | (attributes & settable);
    return TRUE;
  }

  static bool below(const std::wstring& path, const std::wstring& directory) {
    return path.size() > directory.size() && path[directory.size()] == L'\\' &&
           same_text(std::wstring_view(path).substr(0, directory.size()), directory);
  }
};

fake_file_system::fake_file_system(std::wstring root_path)
    : fake_handles(0xF500'0000'0000'0000, "file"), root(std::move(root_path)), previous(win::api) {
  current = this;
  nodes[root] = new_node(true);
  win::api.CreateFileW = &file_calls::create;
  win::api.ReadFile = &file_calls::read;
  win::api.WriteFile = &file_calls::write;
  win::api.FlushFileBuffers = &file_calls::flush;
  win::api.GetFileInformationByHandle = &file_calls::information;
  win::api.CloseHandle = &file_calls::close;
  win::api.GetFileAttributesW = &file_calls::attributes;
  win::api.CreateDirectoryW = &file_calls::create_directory;
  win::api.RemoveDirectoryW = &file_calls::remove_directory;
  win::api.DeleteFileW = &file_calls::delete_file;
  win::api.MoveFileExW = &file_calls::move;
  win::api.SetFileAttributesW = &file_calls::set_attributes;
  win::api.GetTempFileNameW = &file_calls::temp_file_name;
  win::api.GetSystemWindowsDirectoryW = &file_calls::windows_directory;
  win::api.NtCreateFile = &file_calls::nt_create;
}

fake_file_system::~fake_file_system() { current = nullptr; }

void fake_file_system::make_directories(const std::wstring& path) {
  for (size_t k = path.find(L'\\', root.size() + 1);; k = path.find(L'\\', k + 1)) {
    node& directory = nodes[path.substr(0, k)];
    if (!directory.directory) directory = new_node(true);
    if (k == std::wstring::npos) return;
  }
}

void fake_file_system::write(const std::wstring& path, std::string bytes) {
  make_directories(path.substr(0, path.rfind(L'\\')));
  node& file = nodes[path];
  if (file.index == 0) file = new_node(false);
  file.bytes = std::move(bytes);
}

std::string fake_file_system::read(const std::wstring& path) const {
  auto it = nodes.find(path);
  return it != nodes.end() && !it->second.directory ? it->second.bytes : std::string();
}

void fake_file_system::remove_all(const std::wstring& path) {
  std::erase_if(
      nodes, [&](const auto& entry) { return same_text(entry.first, path) || file_calls::below(entry.first, path); });
}

}  // namespace brq_install::test
