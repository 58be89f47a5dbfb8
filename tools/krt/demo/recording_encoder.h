// The pictures (and sound) of one demo recording, encoded with FFmpeg.
//
// Each picture shows a still camera view of its channel (its colours and shapes; a walker
// crosses the event recordings) and the on-screen display of osd.h with the picture's own
// moment: picture k of a recording shows its start time plus k / rate seconds. The pictures are
// H.264 (libx264, one key frame with the stream headers every GOP of two seconds); a program
// stream adds the channel's tone as MP2 sound where the recording has sound. Each GOP is
// padded with bytes players skip (a padding packet of the program stream, or a filler unit of
// the raw stream) to its fixed size, so the stream is exactly demo_stream_bytes long and its
// bytes run in step with its time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "krt_testing/demo_disk.h"

namespace krtdemo {

// Encodes recording `r` (channel, times, format, stream, sound). Returns its stream bytes;
// empty with `error` set when an encoder is missing or a GOP did not fit its fixed size.
std::vector<uint8_t> encode_recording(const krt_testing::DemoRecording& r, std::string& error);

}  // namespace krtdemo
