#include "payload/inflate.hpp"

#include <zlib.h>

namespace brq_install {

namespace {
constexpr uInt chunk_size = 524288;
}

bool inflate_zlib(const void* data, uint32_t size, const inflate_sink& sink) {
  z_stream stream{};
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  stream.avail_in = size;
  if (inflateInit(&stream) != Z_OK) return false;

  std::vector<uint8_t> chunk(chunk_size);
  for (;;) {
    stream.next_out = chunk.data();
    stream.avail_out = chunk_size;
    int result = inflate(&stream, Z_NO_FLUSH);
    bool ok = result == Z_OK || result == Z_STREAM_END;
    size_t produced = chunk_size - stream.avail_out;
    if (ok && produced > 0) ok = sink(chunk.data(), produced);
    if (!ok || result == Z_STREAM_END) {
      inflateEnd(&stream);
      return ok;
    }
  }
}

bool inflate_zlib(const void* data, uint32_t size, std::vector<uint8_t>& out) {
  return inflate_zlib(data, size, [&out](const uint8_t* bytes, size_t count) {
    out.insert(out.end(), bytes, bytes + count);
    return true;
  });
}

}  // namespace brq_install
