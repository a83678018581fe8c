#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace brq_install {

// Receives the inflated bytes piece by piece, in order; false stops the
// inflating (the inflate call then fails).
using inflate_sink = std::function<bool(const uint8_t* data, size_t size)>;

// Inflates one zlib stream (header, deflate data, Adler-32) into `sink`. True
// only when the stream ended, its checksum matched and the sink took every
// piece; a damaged stream may have handed the sink some pieces before.
bool inflate_zlib(const void* data, uint32_t size, const inflate_sink& sink);

// The same, appending the bytes to `out`.
bool inflate_zlib(const void* data, uint32_t size, std::vector<uint8_t>& out);

}  // namespace brq_install
