#pragma once
#include <cstdint>
#include <vector>

namespace brq_install {

// Inflates one zlib stream (header, deflate data, Adler-32) and appends the
// bytes to `out`. True only when the stream ended and its checksum matched.
bool inflate_zlib(const void* data, uint32_t size, std::vector<uint8_t>& out);

}  // namespace brq_install
