#pragma once
// Safe loading of DLLs for a program that runs elevated from a folder where
// anyone may have left a DLL.

namespace brq_install::win {

// Makes every later load of a DLL by name (by the installer, by COM, by the
// system on its behalf) search System32 only, never the installer's folder
// or the current directory. Called first thing in main.
//
// SetDefaultDllDirectories exists only from Windows 8, and on Windows 7 with
// the update KB2533623, so it is looked up rather than imported; where it is
// missing (or refuses), SetDllDirectoryW(L"") at least takes the current
// directory out of the search.
void restrict_dll_search();

}  // namespace brq_install::win
