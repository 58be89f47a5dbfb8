// Sound of the ports. Decoded audio is resampled (libswresample) to the device's format and
// written into an AudioChannel, a FIFO that a QAudioSink pulls from. All QAudioSink objects live
// on one process-wide audio thread with its own event loop, so decoding threads never touch a Qt
// object. Sound needs a QCoreApplication and an audio device; without either, opening a channel
// gives null and the port plays silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

struct AVFrame;
struct SwrContext;

namespace tarnvox {

// Interleaved PCM format of a channel.
struct AudioFormat {
    int rate = 0;                              // samples per second
    int channels = 0;                          // 1…8
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE; // U8, S16, S32 or FLT (packed)

    int bytesPerSecond() const { return rate * channels * av_get_bytes_per_sample(sampleFormat); }
};

// PCM bytes on their way from a port to the device. Thread-safe. Holds at most about one second:
// on overflow the oldest bytes go. A reader that finds too little gets silence for the rest.
class AudioChannel {
public:
    explicit AudioChannel(const AudioFormat& format);
    const AudioFormat& format() const { return format_; }
    void write(const uint8_t* data, size_t length);
    // Fills `length` bytes: waiting PCM first, silence after it. Always `length`.
    size_t read(uint8_t* out, size_t length);
    size_t size() const;
    void clear();

private:
    const AudioFormat format_;      // format of the bytes
    const size_t capacity_;         // most bytes kept
    mutable std::mutex mu_;         // guards bytes_
    std::vector<uint8_t> bytes_;    // waiting PCM, oldest first
};

// The process-wide audio output.
class AudioOutput {
public:
    // Opens the default audio device for a stream of `rate` and `channels` (the device's
    // preferred format when it does not take those) and starts pulling from a new channel.
    // Null when there is no QCoreApplication, no device, or the device refused. Blocks until the
    // audio thread has opened the device; never call it from the audio thread.
    static std::shared_ptr<AudioChannel> open(int rate, int channels);
    // Stops the device pulling from `channel` (asynchronously); the channel stays valid for
    // whoever still holds it.
    static void close(const std::shared_ptr<AudioChannel>& channel);
};

// Converts decoded audio frames to a channel's format.
class Resampler {
public:
    Resampler() = default;
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // The frame's samples in `format`, appended to `out`. false when the conversion failed.
    bool convert(const AVFrame* frame, const AudioFormat& format, std::vector<uint8_t>& out);

private:
    SwrContext* swr_ = nullptr;    // converter for the input seen last
    int inRate_ = 0;               // input of swr_
    int inFormat_ = -1;
    AVChannelLayout inLayout_{};
    AudioFormat outFormat_;        // output of swr_
};

} // namespace tarnvox
