#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace brq_install {

// Receives the inflated bytes piece by piece, in order; false stops the
// inflating (the inflate call then fails).
using inflate_sink = std::function<bool(const uint8_t* data, size_t size)>;

// The buffer that inflated bytes pass through on their way to a sink, owned
// by whoever inflates: allocated once and reused by every stream and every
// attempt. 64 KiB, since zlib inflates faster through it than through larger
// buffers; not zero-filled, since zlib writes each piece before the sink
// reads it.
class inflate_buffer {
 public:
  static constexpr size_t size = 64 * 1024;

  inflate_buffer() : bytes_(std::make_unique_for_overwrite<uint8_t[]>(size)) {}
  std::span<uint8_t> bytes() const { return {bytes_.get(), size}; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
};

// Inflates one zlib stream (header, deflate data, Adler-32) into `sink`,
// through `buffer`: each piece is at most its size. True only when the
// stream ended, its checksum matched and the sink took every piece; a
// damaged stream may have handed the sink some pieces before. `buffer`
// must hold at least one byte.
bool inflate_zlib(const void* data, uint32_t size, std::span<uint8_t> buffer, const inflate_sink& sink);

// The same, appending the bytes to `out`.
bool inflate_zlib(const void* data, uint32_t size, std::span<uint8_t> buffer, std::vector<uint8_t>& out);

}  // namespace brq_install
