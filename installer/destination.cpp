#include "destination.hpp"

#include "install_plan.hpp"

namespace brq_install {

std::wstring target_path(const install_plan& plan, const payload_file& file) {
  return plan.destination + L'\\' + file.name;
}

}  // namespace brq_install
