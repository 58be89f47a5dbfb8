// Test support: small recordings made with the ffmpeg command line at test time, a frame sink
// that keeps what it is given, a virtual clock, and feeding helpers.
#pragma once

#include <tarnvox/tarnvox.h>

#include <gtest/gtest.h>

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tvxtest {

// The recordings every test may use. They are made once into a folder of the build tree that
// every test process shares (made aside and renamed into place, so processes running at the
// same time never see half of it).
struct Streams {
    std::string dir;     // where the recordings are (shared by test processes, read only)
    std::string scratch; // a folder of this process for files the tests write
    std::string ps;     // MPEG program stream: H.264 (with B pictures) + MP2, 352×288, 3 s
    std::string h264;   // raw H.264 elementary stream, 352×288, 3 s
    std::string ts;     // MPEG transport stream: H.264 + AAC, 352×288, 3 s
    std::string mjpeg;  // motion JPEG, 352×288, 3 s
    std::string lpcm;   // MPEG program stream: H.264 + 16-bit PCM, 176×144, 2 s
    std::string hevc;   // raw H.265 elementary stream, 352×288, 3 s (empty without libx265)
    std::string tsHevc; // MPEG transport stream: H.265 + AAC, 352×288, 3 s (likewise)
    bool ok = false;    // all were made (the ffmpeg command line with libx264 is there)
};

// The recordings; skips the calling test when they could not be made.
const Streams& streams();
// Skips the calling test when the recording at `path` (a Streams member) could not be made.
#define TVX_NEED_STREAM(path)                                                                    \
    do {                                                                                         \
        TVX_NEED_STREAMS();                                                                      \
        if ((path).empty())                                                                      \
            GTEST_SKIP() << "ffmpeg command line without libx265";                               \
    } while (0)
#define TVX_NEED_STREAMS()                                                                       \
    do {                                                                                         \
        if (!tvxtest::streams().ok)                                                              \
            GTEST_SKIP() << "ffmpeg command line with libx264 not available";                   \
    } while (0)

std::vector<unsigned char> readAll(const std::string& path);
// Output of a shell command (empty when it fails).
std::string run(const std::string& command);
// The pictures FFmpeg's command line decodes from the file's first video stream, as framemd5.
std::string ffmpegFramemd5(const std::string& path);
// Number of picture lines in framemd5 text.
int framemd5Pictures(const std::string& text);

// A sink that keeps every picture it is given, with the clock's time of each.
class RecordingSink : public TvxFrameSink {
public:
    explicit RecordingSink(QSize size = QSize(64, 48), TvxClock* clock = nullptr)
        : size_(size), clock_(clock)
    {
    }
    QSize frameSize(QSize pictureSize) const override
    {
        std::lock_guard lock(mu_);
        lastAsked_ = pictureSize;
        return size_;
    }
    QSize lastAsked() const
    {
        std::lock_guard lock(mu_);
        return lastAsked_;
    }
    void present(const QImage& picture) override
    {
        std::lock_guard lock(mu_);
        pictures_.push_back(picture);
        times_.push_back(clock_ ? clock_->nowUs() : 0);
    }
    void setSize(QSize size)
    {
        std::lock_guard lock(mu_);
        size_ = size;
    }
    size_t count() const
    {
        std::lock_guard lock(mu_);
        return pictures_.size();
    }
    QImage picture(size_t i) const
    {
        std::lock_guard lock(mu_);
        return pictures_.at(i);
    }
    std::vector<int64_t> times() const
    {
        std::lock_guard lock(mu_);
        return times_;
    }

private:
    mutable std::mutex mu_;
    QSize size_;
    mutable QSize lastAsked_;
    TvxClock* clock_;
    std::vector<QImage> pictures_;
    std::vector<int64_t> times_;
};

// A clock whose time moves only when the engine waits: every wait jumps to its deadline.
class VirtualClock : public TvxClock {
public:
    int64_t nowUs() override { return now_; }
    // Moves the time on by `us` at once (a stall of whatever runs now).
    void advance(int64_t us) { now_ += us; }
    void waitUntil(int64_t deadlineUs, std::condition_variable&, std::unique_lock<std::mutex>&) override
    {
        if (deadlineUs > now_)
            now_ = deadlineUs;
    }

private:
    std::atomic<int64_t> now_{1'000'000};
};

// Feeds bytes [from, to) in blocks of 32,768 through TvxInputData, offering a refused block
// again until it is taken. false when the port refuses for good (not open).
bool feed(int port, const std::vector<unsigned char>& bytes, size_t from = 0,
          size_t to = SIZE_MAX);

// Waits (up to 30 s, a guard against hangs, not a timing) until pred() holds.
bool eventually(const std::function<bool()>& pred);

// Opens `port` with options, plays into sink and returns true when all of that worked.
bool start(int port, TvxFrameSink* sink, const TvxPortOptions& options = {});

// Options for a port that shows as fast as it decodes, counting the decoded pictures.
TvxPortOptions unlimited(std::atomic<int>* decoded = nullptr);

} // namespace tvxtest
