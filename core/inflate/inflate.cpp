#include "inflate/inflate.hpp"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace brq_install {

bool inflate_zlib(const void* data, uint32_t size, std::span<uint8_t> buffer, const inflate_sink& sink) {
  // zlib counts its output room in a uInt.
  const auto room = static_cast<uInt>(std::min<size_t>(buffer.size(), std::numeric_limits<uInt>::max()));
  z_stream stream{};
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  stream.avail_in = size;
  if (inflateInit(&stream) != Z_OK) return false;

  for (;;) {
    stream.next_out = buffer.data();
    stream.avail_out = room;
    int result = inflate(&stream, Z_NO_FLUSH);
    bool ok = result == Z_OK || result == Z_STREAM_END;
    size_t produced = room - stream.avail_out;
    if (ok && produced > 0) ok = sink(buffer.data(), produced);
    if (!ok || result == Z_STREAM_END) {
      inflateEnd(&stream);
      return ok;
    }
  }
}

bool inflate_zlib(const void* data, uint32_t size, std::span<uint8_t> buffer, std::vector<uint8_t>& out) {
  return inflate_zlib(data, size, buffer, [&out](const uint8_t* bytes, size_t count) {
    out.insert(out.end(), bytes, bytes + count);
    return true;
  });
}

}  // namespace brq_install
