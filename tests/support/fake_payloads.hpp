#pragma once
// Serves payload resources from memory instead of the test program's image,
// through the resource entries of the platform table.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform_override.hpp"

namespace brq_install::test {

// One zlib stream of `data`.
std::vector<uint8_t> zlib_stream(const std::string& data);

class fake_payloads {
 public:
  fake_payloads();
  ~fake_payloads();
  fake_payloads(const fake_payloads&) = delete;
  fake_payloads& operator=(const fake_payloads&) = delete;

  // Resource `id` of type 1001 holds `stream`, as it would in the installer.
  void add(uint16_t id, std::vector<uint8_t> stream) { streams[id] = std::move(stream); }

  std::map<uint16_t, std::vector<uint8_t>> streams;

 private:
  scoped_platform saved_;
};

}  // namespace brq_install::test
