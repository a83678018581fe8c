#include "payload/inflate.hpp"

#include <zlib.h>

namespace brq_install {

namespace {
constexpr uInt chunk_size = 524288;
}

bool inflate_zlib(const void* data, uint32_t size, std::vector<uint8_t>& out) {
  z_stream stream{};
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  stream.avail_in = size;
  if (inflateInit(&stream) != Z_OK) return false;

  std::vector<uint8_t> chunk(chunk_size);
  for (;;) {
    stream.next_out = chunk.data();
    stream.avail_out = chunk_size;
    int result = inflate(&stream, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) {
      inflateEnd(&stream);
      return false;
    }
    out.insert(out.end(), chunk.begin(), chunk.begin() + (chunk_size - stream.avail_out));
    if (result == Z_STREAM_END) {
      inflateEnd(&stream);
      return true;
    }
  }
}

}  // namespace brq_install
