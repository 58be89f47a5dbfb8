// Fuzzing target: a stream fed to a port of the playback engine, decoded with no window.
//
// The input is the stream, handed to the engine in blocks of a few kilobytes, the block sizes
// taken from the input's first byte so that the demuxer's probe sees the stream cut in many
// ways. The engine probes it (raw H.264/HEVC, program and transport streams, motion JPEG),
// decodes every picture on its own threads and ends when the input ends. Only the engine's
// public interface is used.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <tarnvox/tarnvox.h>

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  size_t block;
};

long read_input(void* opaque, unsigned char* buffer, size_t length) {
  Input& in = *static_cast<Input*>(opaque);
  const size_t n = std::min({length, in.size, in.block});
  std::copy(in.data, in.data + n, buffer);
  in.data += n;
  in.size -= n;
  return long(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int prepared = TvxPrepare();
  (void)prepared;
  if (size == 0) return 0;
  Input in{data + 1, size - 1, size_t(data[0] % 16 + 1) * 512};
  tvx_decode_headless(read_input, &in, 1, {});
  return 0;
}
