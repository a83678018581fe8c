#pragma once
// Windows Firewall's list of authorized applications, through the firewall's
// COM objects. The functions print nothing and return 0 or the error code of
// the call that failed (a failed COM call's HRESULT); every BSTR and interface
// they obtain is freed before they return.
#include <windows.h>
#include <netfw.h>

#include <string>

#include "win/com.hpp"

namespace brq_install::win {

// Class and interface identifiers of the firewall objects. mingw's headers
// declare them, but its import libraries do not define them, so they are
// defined here (in this namespace, apart from the header's declarations).
inline constexpr CLSID CLSID_NetFwMgr = {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
inline constexpr IID IID_INetFwMgr = {0xf7898af5, 0xcac4, 0x4632, {0xa2, 0xec, 0xda, 0x06, 0xe5, 0x11, 0x1a, 0xf2}};
inline constexpr CLSID CLSID_NetFwAuthorizedApplication = {
    0xec9846b3, 0x2762, 0x4a6b, {0xa2, 0x14, 0x6a, 0xcb, 0x60, 0x34, 0x62, 0xd2}};
inline constexpr IID IID_INetFwAuthorizedApplication = {
    0xb5e64ffa, 0xc2c5, 0x444e, {0xa3, 0x01, 0xfb, 0x5e, 0x00, 0x01, 0x80, 0x50}};

// Creates the firewall manager (any context) and opens its local policy's
// current profile. The manager and the policy are released before return.
[[nodiscard]] DWORD open_current_firewall_profile(com_ptr<INetFwProfile>& profile);

// Looks `image_path` up among the profile's authorized applications.
// `enabled` becomes true only when an entry exists and is enabled; 0 also
// when there is no entry.
[[nodiscard]] DWORD firewall_exception_enabled(INetFwProfile* profile, const std::wstring& image_path, bool& enabled);

// Makes sure that an enabled entry for `image_path` exists. An enabled entry
// is left as it is, whatever its name; otherwise a new entry with the path,
// `name` and enabled is created in-process and added, which also replaces a
// disabled one. Nothing is added when a call before Add fails.
[[nodiscard]] DWORD ensure_firewall_exception(INetFwProfile* profile, const std::wstring& image_path,
                                              const std::wstring& name);

// Removes the entry for `image_path`, enabled or not, when there is one;
// `removed` tells whether there was. Nothing else in the list is touched.
[[nodiscard]] DWORD remove_firewall_exception(INetFwProfile* profile, const std::wstring& image_path, bool& removed);

}  // namespace brq_install::win
