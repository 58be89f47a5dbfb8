// A libavcodec decoder for one stream of a port, with the port's rule for damaged data: after a
// decoding error every packet up to the next key frame is dropped, and decoding starts again
// from that key frame with a clean decoder.
#pragma once

#include "picturebuffers.h"

#include <functional>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tarnvox {

class Decoder {
public:
    // Largest picture a port decodes (pixels); larger ones are refused as damage.
    static constexpr int64_t kMaxPixels = 4096LL * 4096LL;

    // Opens a decoder for the stream described by `params` with time base `timeBase`;
    // `threads` libavcodec threads (0 = one per processor). Null when the codec is unknown or
    // cannot be opened.
    static std::unique_ptr<Decoder> open(const AVCodecParameters* params, AVRational timeBase,
                                         int threads);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes one packet (null: the input ended, give up every frame still held) and calls
    // `out` with every frame that comes out; the frame is only valid during the call.
    void decode(const AVPacket* packet, const std::function<void(AVFrame*)>& out);

    // Forgets every picture held and starts again at the next key frame (after the input moved
    // to another place of the stream). Keeps what the decoder learnt of the stream.
    void restart();

    // Decoding errors seen so far.
    int errors() const { return errors_; }
    const AVCodecContext* context() const { return ctx_; }

private:
    Decoder() = default;
    void fail();

    PictureBuffers buffers_;        // where pictures are decoded to (outlives ctx_)
    AVCodecContext* ctx_ = nullptr; // the open decoder
    AVFrame* frame_ = nullptr;      // reused output frame
    bool waitKey_ = false;          // dropping packets until the next key frame
    int errors_ = 0;                // decoding errors so far
};

} // namespace tarnvox
