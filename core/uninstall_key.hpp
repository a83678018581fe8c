#pragma once
// The product's entry in Programs and Features: the key that inventory and
// deployment tools find it by, written by the installer once its files are
// all in place and deleted by the removal.
#include <string_view>

#include "product.h"

namespace brq_install {

inline constexpr std::wstring_view uninstall_key_name = L"" BRQ_UNINSTALL_KEY;
inline constexpr std::wstring_view uninstall_key_path =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" BRQ_UNINSTALL_KEY;

}  // namespace brq_install
