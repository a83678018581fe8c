#pragma once
// Files: existence, moves and deletions, and whole small files written so
// that they survive a power loss. Nothing here prints; the functions return
// a Windows error code, 0 for success.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "win/unique.hpp"

namespace brq_install::win {

// Whether `path` names an existing file (not a directory) whose attributes
// can be read.
bool is_existing_file(const std::wstring& path);

// Sets `attributes` to those of `path`: 0, or the code of the failed read,
// 2 or 3 when there is nothing there.
[[nodiscard]] DWORD get_file_attributes(const std::wstring& path, DWORD& attributes);

// Sets `there` when a file (not a directory) is at `path`, and `size` to
// its size: 0, also when nothing is there; or the code when that cannot be
// told.
[[nodiscard]] DWORD find_file(const std::wstring& path, bool& there, uint64_t& size);

// The product's files are its own, whatever an administrator marked them:
// the read-only attribute of `path`, when it has one, is cleared (as
// Windows Installer does) so that the file can be replaced, moved or
// deleted. True when it was cleared. Every call below that replaces, moves
// or deletes a file clears it itself on the refusal (5) it causes.
bool cleared_read_only(const std::wstring& path);

// Opens `path` to be written anew, with normal attributes and `flags`,
// replacing a file there, read-only or not. Invalid on failure, the last
// error telling why.
unique_file_handle create_file_for_writing(const std::wstring& path, DWORD flags);

// Creates the empty file `path`, or empties the one there, and returns once
// it is on disk.
[[nodiscard]] DWORD create_empty_file(const std::wstring& path);

// The file beside `path` named by its stem and `extension`: "d\a.b.exe" with
// ".new" gives "d\a.b.new". With an extension no longer than the file's own,
// the sibling's path is never longer than `path`, so that a path that works
// has siblings that work too.
std::wstring sibling_path(const std::wstring& path, std::wstring_view extension);

// Beside each installed file: where its new bytes are written before they
// replace it, where its old bytes are kept until the whole set of files is
// in place, and the empty file that says there were none (the file is
// added). Never longer than the file's own path.
std::wstring staging_path(const std::wstring& path);
std::wstring backup_path(const std::wstring& path);
std::wstring added_path(const std::wstring& path);

// 0 when no other process holds `path` open: the exclusive open that a
// running program or an open handle refuses (32, a sharing violation) and a
// read-only file denies (5). A file that is not there is not held.
[[nodiscard]] DWORD check_not_held(const std::wstring& path);

// Moves `from` to `to`, replacing a file there, and returns once the move is
// on disk.
[[nodiscard]] DWORD move_file(const std::wstring& from, const std::wstring& to);

// Deletes the file `path`; a file that is not there counts as deleted.
[[nodiscard]] DWORD delete_file(const std::wstring& path);

// Takes the file `path`, which a running program's may be (it can be
// renamed, not deleted), out of its directory: moves it into `directory`
// on the same volume under a new unique name, `moved_to`, which Windows
// deletes at the next restart. On failure the file is left where it was.
[[nodiscard]] DWORD move_out_until_restart(const std::wstring& path, const std::wstring& directory,
                                           std::wstring& moved_to);

// Writes all `size` bytes at `data` to `file`. A write that comes back short
// is continued, so that the call which cannot go on reports why (112 on a
// full disk); the last error is cleared first, since a stale one is no
// reason.
[[nodiscard]] DWORD write_all(HANDLE file, const void* data, size_t size);

// Replaces `path` by a file holding `bytes`, written to `staging` first,
// flushed, and then moved over `path`: after a power loss `path` holds either
// its old bytes or all of the new ones. `staging` is deleted on failure.
[[nodiscard]] DWORD write_file_durably(const std::wstring& path, const std::wstring& staging, std::string_view bytes);

// Reads the whole file `path` into `bytes`: 2 when there is none, 223 when
// it holds more than `limit` bytes, or the code of the failed call.
[[nodiscard]] DWORD read_small_file(const std::wstring& path, size_t limit, std::string& bytes);

}  // namespace brq_install::win
