// Inflate throughput: the product's inflate_zlib against zlib's uncompress on
// the same embedded streams, in-process: inflate_zlib as the installer uses
// it, through one inflate_buffer that every repetition reuses, handing its
// pieces to a sink (here one that only counts them), and appending to a
// vector; uncompress into a fresh buffer of the known size each time; and
// zlib's inflate through one 64 KiB buffer of its own, for reference.
// Prints, per stream and per inflater, one line:
//   inflate ID NAME IN_BYTES OUT_BYTES MIN MEDIAN MAX   (milliseconds)
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "payload/inflate.hpp"

namespace {

double now_ms() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Inflate>
void measure(int id, const char* name, uLong in_size, uLong out_size, int repetitions, Inflate inflate) {
  std::vector<double> times;
  for (int k = 0; k < repetitions; ++k) {
    double start = now_ms();
    if (!inflate()) {
      std::fprintf(stderr, "inflate_bench: %s failed on stream %d\n", name, id);
      std::exit(1);
    }
    times.push_back(now_ms() - start);
  }
  std::sort(times.begin(), times.end());
  std::printf("inflate %d %s %lu %lu %.3f %.3f %.3f\n", id, name, in_size, out_size, times.front(),
              times[times.size() / 2], times.back());
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = argc > 1 ? std::atoi(argv[1]) : 30;
  brq_install::inflate_buffer buffer;
  for (int id = 101; id <= 103; ++id) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(1001));
    const auto* data = static_cast<const Bytef*>(LockResource(LoadResource(nullptr, found)));
    uLong in_size = SizeofResource(nullptr, found);
    std::vector<uint8_t> first;
    brq_install::inflate_zlib(data, in_size, buffer.bytes(), first);  // the size, and a warm cache
    uLong out_size = static_cast<uLong>(first.size());
    measure(id, "inflate_zlib", in_size, out_size, repetitions, [&] {
      uLong total = 0;
      return brq_install::inflate_zlib(data, in_size, buffer.bytes(),
                                       [&](const uint8_t*, size_t size) {
                                         total += static_cast<uLong>(size);
                                         return true;
                                       }) &&
             total == out_size;
    });
    measure(id, "inflate_zlib_to_vector", in_size, out_size, repetitions, [&] {
      std::vector<uint8_t> out;
      return brq_install::inflate_zlib(data, in_size, buffer.bytes(), out) && out.size() == out_size;
    });
    measure(id, "uncompress", in_size, out_size, repetitions, [&] {
      std::unique_ptr<Bytef[]> out(new Bytef[out_size]);
      uLongf length = out_size;
      return uncompress(out.get(), &length, data, in_size) == Z_OK && length == out_size;
    });
    // zlib's inflate through one 64 KiB buffer, as a writer of chunks would
    // use it (the floor program): no output buffer of the payload's size.
    measure(id, "inflate_64KiB_chunks", in_size, out_size, repetitions, [&] {
      static Bytef chunk[65536];
      z_stream stream{};
      stream.next_in = const_cast<Bytef*>(data);
      stream.avail_in = in_size;
      uLong total = 0;
      int result = inflateInit(&stream);
      while (result == Z_OK) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        total += static_cast<uLong>(sizeof chunk - stream.avail_out);
      }
      inflateEnd(&stream);
      return result == Z_STREAM_END && total == out_size;
    });
  }
  return 0;
}
