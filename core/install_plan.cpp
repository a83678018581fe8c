#include "install_plan.hpp"

#include <cwchar>

#include "product.h"

namespace brq_install {

bool is_executable_name(std::wstring_view name) {
  return name.size() >= 4 && _wcsicmp(std::wstring(name.substr(name.size() - 4)).c_str(), L".exe") == 0;
}

install_plan build_install_plan() {
  install_plan plan;
  plan.variant = L"brq";
  plan.files = {
      {.resource_id = 101,
       .name = L"qzv.ua.brq.exe",
       .firewall = true,
       .service = true,
       .service_name = L"QZVOPCUA.BRQ",
       .display_name = L"qzv OPCUA server for BRQ",
       .description = L"" BRQ_SERVER_DESCRIPTION},
      {.resource_id = 102, .name = L"qzv.ua.brq.ctrl.exe"},
      {.resource_id = 103, .name = L"qzv.ua.brq.dev.exe"},
      {.resource_id = 104, .name = L"qzv.ua.brq.uninstall.exe", .removes_product = true},
  };
  return plan;
}

}  // namespace brq_install
