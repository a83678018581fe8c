#include "install_plan.hpp"

#include <cwchar>

#include "console/console.hpp"
#include "product.h"

namespace brq_install {

std::shared_ptr<payload_file> add_payload_file(install_plan& plan, uint16_t resource_id,
                                               std::string_view name) {
  auto file = std::make_shared<payload_file>();
  file->resource_id = resource_id;
  file->name = utf8_to_wide(name);
  plan.files.push_back(file);
  return file;
}

bool is_executable_name(std::wstring_view name) {
  return name.size() >= 4 && _wcsicmp(std::wstring(name.substr(name.size() - 4)).c_str(), L".exe") == 0;
}

install_plan build_install_plan() {
  install_plan plan;
  plan.variant = utf8_to_wide("brq");

  auto server = add_payload_file(plan, 101, "qzv.ua.brq.exe");
  server->firewall = true;
  server->service = true;
  server->service_name = utf8_to_wide("QZVOPCUA.BRQ");
  server->display_name = utf8_to_wide("qzv OPCUA server for BRQ");
  server->description = utf8_to_wide(BRQ_SERVER_DESCRIPTION);
  server->service_args = utf8_to_wide("");

  add_payload_file(plan, 102, "qzv.ua.brq.ctrl.exe");
  add_payload_file(plan, 103, "qzv.ua.brq.dev.exe");
  return plan;
}

}  // namespace brq_install
