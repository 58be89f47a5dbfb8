// Short recorder clips encoded with FFmpeg, for the demo disk.
//
// One encoder per channel stays open for the whole demo, so that every clip costs only its
// pictures: each clip starts with a key frame that repeats the stream headers, so it plays on
// its own. A clip shows the channel number and a text (the recording's date and time) in large
// digits on a background of the channel's colour, with a bar that moves from picture to
// picture.
//
//   program stream: H.264 704x576 25 fps (x264, ultrafast) and MP2 sound (a tone per channel)
//                   in an MPEG program stream, one stream per clip;
//   raw H.264:      the H.264 elementary stream alone (Annex B).
//
// Padding continues a clip after its pictures with bytes that players skip: a padding packet
// of the program stream, or a filler unit of the raw stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krtdemo {

constexpr int kClipWidth = 704;
constexpr int kClipHeight = 576;
constexpr int kClipRate = 25;           // pictures per second
constexpr size_t kPaddingBytes = 1024;  // bytes of one padding() unit

enum class StreamKind {
  kProgramStream,  // H.264 and MP2 in an MPEG program stream
  kRawH264,        // H.264 elementary stream, no sound
};

class ClipEncoder {
 public:
  // An encoder for channel `channel` (1-based, as shown) making clips of `pictures` pictures.
  ClipEncoder(int channel, StreamKind kind, int pictures);
  ~ClipEncoder();
  ClipEncoder(const ClipEncoder&) = delete;
  ClipEncoder& operator=(const ClipEncoder&) = delete;

  // Whether the encoders opened (libx264 and the MP2 encoder are there). Empty when they did,
  // else what failed.
  const std::string& error() const;

  // Encodes one clip showing the channel and the two lines of text (digits, '-', ':' and
  // spaces). Returns its bytes; empty when encoding fails (error() says why).
  std::vector<uint8_t> clip(const std::string& line1, const std::string& line2);

  // kPaddingBytes bytes that continue the stream and that players skip.
  std::vector<uint8_t> padding() const;

  StreamKind kind() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace krtdemo
