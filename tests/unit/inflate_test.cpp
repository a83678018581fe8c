#include "unit_prelude.hpp"

#include <algorithm>

#include "fake_payloads.hpp"
#include "inflate/inflate.hpp"

namespace brq_install {
namespace {

using test::zlib_stream;

// About 1.3 MB that compresses, but not to nothing: some twenty pieces of
// the 64 KiB buffer.
std::string sample_program() {
  std::string data;
  uint32_t state = 12345;
  while (data.size() < 1300000) {
    state = state * 1103515245 + 12345;
    data += "MZ section " + std::to_string(state >> 20) + '\0';
  }
  return data;
}

bool inflates(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out) {
  inflate_buffer buffer;
  return inflate_zlib(stream.data(), static_cast<uint32_t>(stream.size()), buffer.bytes(), out);
}

TEST(inflate_zlib, stream_spanning_several_chunks_comes_out_whole) {
  std::string program = sample_program();
  std::vector<uint8_t> out{'x'};  // appends to what is there
  ASSERT_TRUE(inflates(zlib_stream(program), out));
  ASSERT_EQ(out.size(), program.size() + 1);
  EXPECT_EQ(std::string(out.begin() + 1, out.end()), program);
}

// Whatever its size and whatever it held before, the caller's buffer is the
// one the pieces come from, none larger than it, and the bytes come out the
// same; one buffer serves any number of streams.
TEST(inflate_zlib, pieces_pass_through_the_callers_buffer) {
  const std::string program = sample_program();
  const std::vector<uint8_t> stream = zlib_stream(program);
  inflate_buffer whole;
  std::vector<uint8_t> small(4096);
  const std::span<uint8_t> buffers[] = {whole.bytes(), whole.bytes(), small, std::span(small).first(1)};
  EXPECT_EQ(whole.bytes().size(), 64u * 1024);
  for (std::span<uint8_t> buffer : buffers) {
    SCOPED_TRACE(buffer.size());
    std::fill(buffer.begin(), buffer.end(), uint8_t{0xCD});
    std::string out;
    size_t outside = 0, largest = 0;
    EXPECT_TRUE(inflate_zlib(stream.data(), static_cast<uint32_t>(stream.size()), buffer,
                             [&](const uint8_t* data, size_t size) {
                               if (data != buffer.data()) ++outside;
                               largest = std::max(largest, size);
                               out.append(reinterpret_cast<const char*>(data), size);
                               return true;
                             }));
    EXPECT_EQ(out, program);
    EXPECT_EQ(outside, 0u);
    EXPECT_EQ(largest, buffer.size());
  }
}

TEST(inflate_zlib, stream_of_an_empty_file_gives_nothing) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(inflates(zlib_stream(""), out));
  EXPECT_TRUE(out.empty());
}

TEST(inflate_zlib, damaged_streams_fail) {
  const std::vector<uint8_t> good = zlib_stream(sample_program());
  struct {
    const char* what;
    std::vector<uint8_t> stream;
  } cases[] = {
      {"bad header", good},
      {"bad deflate data", good},
      {"wrong Adler-32", good},
      {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 100)},
      {"only the header", std::vector<uint8_t>(good.begin(), good.begin() + 2)},
      {"nothing at all", {}},
  };
  cases[0].stream[1] ^= 0x01;      // header check bits no longer fit
  cases[1].stream[2] = 0xFF;       // reserved block type 3
  cases[2].stream.back() ^= 0x01;  // checksum of other bytes
  for (auto& c : cases) {
    std::vector<uint8_t> out;
    EXPECT_FALSE(inflates(c.stream, out)) << c.what;
  }
}

}  // namespace
}  // namespace brq_install
