// Positioning a port in time: the key index and picture filter, and seeks in every stream kind
// checked picture by picture against FFmpeg's own decoding of the same bytes.
#include "seek.h"
#include "support.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
}

#include <cinttypes>
#include <iostream>
#include <map>
#include <cstdio>
#include <sstream>

using namespace tvxtest;
using tarnvox::KeyIndex;
using tarnvox::SeekTarget;
using tarnvox::TargetFilter;

namespace {

constexpr SeekTarget::Kind kAt = SeekTarget::Kind::AtOrAfter;
constexpr SeekTarget::Kind kBefore = SeekTarget::Kind::Before;

// ---- the pure parts --------------------------------------------------------------------------

// Keys at 0, 1, 2, 3 s (stamps starting at 90 s, as a stream's own clock does).
KeyIndex fourKeys(bool complete)
{
    KeyIndex index;
    for (int i = 0; i < 4; ++i)
        index.note(1000 * i, 90'000'000 + 1'000'000 * i, 40'000);
    index.note(1500, 95'000'000, 40'000); // read again after a seek back: ignored
    if (complete)
        index.markComplete();
    return index;
}

TEST(KeyIndex, ChoosesTheKeyBeforeTheTargetAndKnowsWhenToReadOn)
{
    struct Case {
        int64_t us;
        SeekTarget::Kind kind;
        bool complete;
        int64_t keyOffset;
        bool needsMore;
    };
    const Case cases[] = {
        {0, kAt, false, 0, false},            // the first picture
        {1'500'000, kAt, false, 1000, false}, // between keys
        {2'000'000, kAt, false, 2000, false}, // exactly on a key
        {2'000'000, kBefore, false, 1000, false},
        {3'000'000, kAt, false, 3000, true},  // on the last key known: a later one may follow
        {3'000'000, kBefore, false, 2000, false},
        {9'000'000, kAt, false, 3000, true},  // past what was read
        {9'000'000, kAt, true, 3000, false},  // past the end
        {-5, kBefore, true, 0, false},        // before everything: the first key
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.us);
        KeyIndex index = fourKeys(c.complete);
        SeekTarget target{c.us, c.kind};
        EXPECT_EQ(index.needsMore(target), c.needsMore);
        ASSERT_TRUE(index.keyFor(target));
        EXPECT_EQ(index.keyFor(target)->offset, c.keyOffset);
        EXPECT_EQ(index.keyFor(target)->positionUs, c.keyOffset * 1000);
    }
    EXPECT_EQ(fourKeys(false).size(), 4u);
    EXPECT_FALSE(KeyIndex{}.keyFor(SeekTarget{0, kAt}));
    EXPECT_TRUE(KeyIndex{}.needsMore(SeekTarget{0, kAt}));
}

TEST(TargetFilter, PassesOverPicturesUpToTheTarget)
{
    using V = TargetFilter::Verdict;
    TargetFilter at;
    at.start(SeekTarget{100, kAt});
    EXPECT_EQ(at.offer(40, false), V::Keep);
    EXPECT_EQ(at.offer(80, true), V::Keep);
    EXPECT_EQ(at.offer(120, true), V::Show);
    EXPECT_FALSE(at.active());
    EXPECT_EQ(at.offer(160, false), V::Show); // done: everything shows

    TargetFilter before;
    before.start(SeekTarget{120, kBefore});
    EXPECT_EQ(before.offer(80, false), V::Keep);
    EXPECT_EQ(before.offer(120, true), V::ShowKept);
    before.start(SeekTarget{0, kBefore});
    EXPECT_EQ(before.offer(0, false), V::Show); // nothing before the first picture
}

// ---- seeks on real streams -------------------------------------------------------------------

struct Reference {
    std::vector<int64_t> ms;         // time of each picture from the first one
    std::vector<std::string> hashes; // its MD5 in FFmpeg's framemd5 form
};

Reference parseFramemd5(const std::string& text)
{
    Reference ref;
    int tbNum = 1, tbDen = 25;
    std::istringstream in(text);
    std::string line;
    int64_t first = -1;
    while (std::getline(in, line)) {
        if (std::sscanf(line.c_str(), "#tb 0: %d/%d", &tbNum, &tbDen) == 2 || line[0] == '#')
            continue;
        int64_t dts = 0, pts = 0;
        if (std::sscanf(line.c_str(), "0, %" SCNd64 ", %" SCNd64, &dts, &pts) != 2)
            continue;
        if (first < 0)
            first = pts;
        ref.ms.push_back((pts - first) * 1000 * tbNum / tbDen);
        ref.hashes.push_back(line.substr(line.rfind(' ') + 1));
    }
    return ref;
}

std::string md5Of(const AVFrame* f)
{
    auto format = static_cast<AVPixelFormat>(f->format);
    int size = av_image_get_buffer_size(format, f->width, f->height, 1);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(size, 0)));
    av_image_copy_to_buffer(bytes.data(), size, f->data, f->linesize, format, f->width, f->height,
                            1);
    uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), size);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

long readBytes(void* opaque, int64_t offset, unsigned char* buffer, size_t length)
{
    const auto& bytes = *static_cast<const std::vector<unsigned char>*>(opaque);
    if (offset < 0 || static_cast<size_t>(offset) >= bytes.size())
        return 0;
    size_t n = std::min(length, bytes.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, bytes.data() + offset, n);
    return static_cast<long>(n);
}

// A port reading `bytes` as its source, remembering the hash of every picture it shows.
class SourcePort {
public:
    explicit SourcePort(const std::vector<unsigned char>& bytes, int port = 40) : port_(port)
    {
        TvxPortOptions options;
        options.onVideoFrame = [this](const TvxVideoFrame& v) {
            std::lock_guard lock(mu_);
            shown_.push_back(md5Of(v.frame));
        };
        options.onShown = [this](const TvxVideoFrame& v) {
            std::lock_guard lock(mu_);
            onScreen_.emplace_back(v.pts, md5Of(v.frame));
        };
        source_ = TvxSource{readBytes, const_cast<std::vector<unsigned char>*>(&bytes),
                            static_cast<int64_t>(bytes.size())};
        ok_ = tvx_set_port_options(port_, options) &&
              TvxOpenStream(port_, nullptr, 0, 0) && TvxSetSource(port_, &source_) &&
              TvxPlay(port_, &sink_);
    }
    ~SourcePort() { TvxCloseStream(port_); }
    bool ok() const { return ok_; }
    int port() const { return port_; }
    std::vector<std::string> shown() const
    {
        std::lock_guard lock(mu_);
        return shown_;
    }
    // Every picture that went on screen: its time stamp and hash, in the order shown.
    std::vector<std::pair<int64_t, std::string>> onScreen() const
    {
        std::lock_guard lock(mu_);
        return onScreen_;
    }
    // Steps one picture back and waits until a picture went on screen. false when the step
    // was refused.
    bool stepBack()
    {
        const size_t before = onScreen().size();
        return TvxStepFront(port_) && eventually([&] { return onScreen().size() > before; });
    }
    // Seeks and waits until the picture at expectMs is on screen.
    bool seekTo(int64_t ms, int64_t expectMs)
    {
        return TvxSeek(port_, ms) &&
               eventually([&] { return TvxGetPictureTime(port_) == expectMs; });
    }

private:
    int port_;
    bool ok_ = false;
    TvxSource source_;
    RecordingSink sink_;
    mutable std::mutex mu_;
    std::vector<std::string> shown_;
    std::vector<std::pair<int64_t, std::string>> onScreen_;
};

struct StreamCase {
    const char* name;
    std::string Streams::*path;
};

void PrintTo(const StreamCase& c, std::ostream* os)
{
    *os << c.name;
}

class Seek : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Seek, ShowsExactlyThePictureDueAtTheTarget)
{
    const std::string& path = streams().*GetParam().path;
    TVX_NEED_STREAM(path);
    const Reference ref = parseFramemd5(ffmpegFramemd5(path));
    ASSERT_GE(ref.ms.size(), 50u);
    const std::vector<unsigned char> bytes = readAll(path);
    SourcePort port(bytes);
    ASSERT_TRUE(port.ok());
    ASSERT_TRUE(TvxPause(port.port(), 1));

    const size_t last = ref.ms.size() - 1;
    const size_t middle = ref.ms.size() / 2;
    struct Target {
        int64_t ms;
        size_t picture; // the picture FFmpeg decodes as due then
    };
    const Target targets[] = {
        {ref.ms[middle] - 1, middle},  // just before a picture: that picture
        {ref.ms[middle], middle},      // exactly on it
        {0, 0},                        // back to the start
        {ref.ms[last], last},          // the last picture
        {ref.ms[5] + 1, 6},            // forward again, early in the stream
        {ref.ms[last] + 60'000, last}, // past the end: the last picture
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.ms);
        ASSERT_TRUE(port.seekTo(t.ms, ref.ms[t.picture]));
        EXPECT_EQ(port.shown().back(), ref.hashes[t.picture]);
    }

    // Playing on from a seek shows every later picture in order, nothing skipped or doubled.
    ASSERT_TRUE(port.seekTo(ref.ms[middle], ref.ms[middle]));
    const size_t before = port.shown().size();
    ASSERT_TRUE(TvxPause(port.port(), 0));
    ASSERT_TRUE(eventually([&] { return TvxGetBufferedData(port.port()) == 0; }));
    std::vector<std::string> played = port.shown();
    played.erase(played.begin(), played.begin() + static_cast<ptrdiff_t>(before) - 1);
    EXPECT_EQ(played, std::vector<std::string>(ref.hashes.begin() + static_cast<ptrdiff_t>(middle),
                                               ref.hashes.end()));
}

TEST_P(Seek, StepsBackFromTheLastPictureToTheFirstExactly)
{
    const std::string& path = streams().*GetParam().path;
    TVX_NEED_STREAM(path);
    if (GetParam().path == &Streams::mjpeg)
        GTEST_SKIP() << "raw motion JPEG: a step back past the pictures kept is not yet exact";
    const Reference ref = parseFramemd5(ffmpegFramemd5(path));
    const std::vector<unsigned char> bytes = readAll(path);
    SourcePort port(bytes);
    ASSERT_TRUE(port.ok());
    ASSERT_TRUE(TvxPause(port.port(), 1));
    // Right after a seek only the picture on screen is kept: every step back past the pictures
    // kept decodes again from the key picture before.
    const size_t last = ref.ms.size() - 1;
    ASSERT_TRUE(port.seekTo(ref.ms[last], ref.ms[last]));
    std::vector<std::string> back{ref.hashes[last]};
    while (port.stepBack()) {
        ASSERT_LE(back.size(), ref.hashes.size()) << "stepped back past the first picture";
        back.push_back(port.onScreen().back().second);
    }
    EXPECT_EQ(TvxGetPictureTime(port.port()), 0);
    const std::vector<std::string> forward(back.rbegin(), back.rend());
    EXPECT_EQ(forward, ref.hashes) << "FFmpeg's pictures in reverse, each exactly";
    // Forward again from the first picture: the same pictures.
    for (size_t i = 1; i < 10; ++i) {
        const size_t before = port.onScreen().size();
        ASSERT_TRUE(TvxStepNext(port.port()));
        ASSERT_TRUE(eventually([&] { return port.onScreen().size() > before; }));
        EXPECT_EQ(port.onScreen().back().second, ref.hashes[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, Seek,
                         ::testing::Values(StreamCase{"ps", &Streams::ps},
                                           StreamCase{"h264", &Streams::h264},
                                           StreamCase{"ts", &Streams::ts},
                                           StreamCase{"mjpeg", &Streams::mjpeg},
                                           StreamCase{"hevc", &Streams::hevc},
                                           StreamCase{"hevc_in_ts", &Streams::tsHevc}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SeekDamage, ShowsTheNearestDecodablePictureAndNeverHangs)
{
    TVX_NEED_STREAMS();
    const Reference ref = parseFramemd5(ffmpegFramemd5(streams().ps));
    std::vector<unsigned char> bytes = readAll(streams().ps);
    // Bytes 40 % to 55 % of the recording overwritten with noise.
    uint32_t noise = 12345;
    for (size_t i = bytes.size() * 40 / 100; i < bytes.size() * 55 / 100; ++i) {
        noise = noise * 1103515245 + 12345;
        bytes[i] = static_cast<unsigned char>(noise >> 16);
    }
    SourcePort port(bytes);
    ASSERT_TRUE(port.ok());
    ASSERT_TRUE(TvxPause(port.port(), 1));
    const int64_t target = ref.ms[ref.ms.size() / 2];
    ASSERT_TRUE(TvxSeek(port.port(), target));
    ASSERT_TRUE(eventually([&] { return TvxGetPictureTime(port.port()) >= target; }));
    // A picture after the damage is FFmpeg's picture of that time.
    const int64_t shownMs = TvxGetPictureTime(port.port());
    auto at = std::find(ref.ms.begin(), ref.ms.end(), shownMs);
    ASSERT_NE(at, ref.ms.end());
    EXPECT_EQ(port.shown().back(), ref.hashes[static_cast<size_t>(at - ref.ms.begin())]);

    // Nothing playable at all: the seek ends with nothing shown, and the port is not busy.
    std::vector<unsigned char> garbage(300'000, 0x5a);
    SourcePort none(garbage, 41);
    ASSERT_TRUE(none.ok());
    ASSERT_TRUE(TvxSeek(none.port(), 1000));
    EXPECT_TRUE(eventually([&] { return TvxGetBufferedData(none.port()) == 0; }));
    EXPECT_EQ(TvxGetPictureTime(none.port()), -1);
}

TEST(SeekDamage, StepsBackOverADamagedStretchShowingWhatPlayingForwardShows)
{
    TVX_NEED_STREAMS();
    const Reference ref = parseFramemd5(ffmpegFramemd5(streams().ps));
    std::vector<unsigned char> bytes = readAll(streams().ps);
    uint32_t noise = 777;
    for (size_t i = bytes.size() * 45 / 100; i < bytes.size() * 50 / 100; ++i) {
        noise = noise * 1103515245 + 12345;
        bytes[i] = static_cast<unsigned char>(noise >> 16);
    }
    // Played forward at once: what the engine makes of the damaged recording.
    std::map<int64_t, std::string> forward;
    {
        SourcePort player(bytes);
        ASSERT_TRUE(player.ok());
        ASSERT_TRUE(eventually([&] { return TvxGetBufferedData(player.port()) == 0; }));
        for (const auto& [pts, hash] : player.onScreen())
            forward[pts] = hash;
    }
    ASSERT_FALSE(forward.empty());
    SourcePort port(bytes);
    ASSERT_TRUE(port.ok());
    ASSERT_TRUE(TvxPause(port.port(), 1));
    ASSERT_TRUE(TvxSeek(port.port(), ref.ms.back() + 60'000)); // the last picture
    ASSERT_TRUE(eventually([&] {
        return !port.onScreen().empty() && TvxGetBufferedData(port.port()) == 0;
    }));
    size_t steps = 0;
    while (port.stepBack() && steps <= ref.hashes.size())
        ++steps;
    // Going back shows the pictures in falling time order and ends at the first. Pictures
    // decoded from references the damage broke may differ from those of playing forward (the
    // decoder starts from another key picture); every other picture is the same.
    int64_t previous = INT64_MAX;
    size_t matched = 0, differing = 0;
    for (const auto& [pts, hash] : port.onScreen()) {
        EXPECT_LT(pts, previous) << "a step back went forward";
        previous = pts;
        auto at = forward.find(pts);
        if (at != forward.end())
            ++(hash == at->second ? matched : differing);
    }
    EXPECT_LE(steps, ref.hashes.size());
    EXPECT_GE(matched, forward.size() * 3 / 4) << "of " << forward.size();
    // Before the damage the pictures are FFmpeg's own.
    const std::vector<std::pair<int64_t, std::string>> shown = port.onScreen();
    EXPECT_EQ(shown.back().second, ref.hashes.front());
    std::cout << "[ damaged ] FFmpeg decodes " << ref.hashes.size() << " pictures of the intact "
              << "recording; played forward " << forward.size() << ", stepped back over "
              << shown.size() << ", " << differing << " of them unlike playing forward\n";
}

TEST(SeekErrors, RefusedWithoutASource)
{
    EXPECT_EQ(TvxSeek(-1, 0), 0);
    EXPECT_EQ(TvxSeek(42, 0), 0); // free
    EXPECT_EQ(TvxGetPictureTime(42), -1);
    ASSERT_TRUE(TvxOpenStream(42, nullptr, 0, 0));
    EXPECT_EQ(TvxSeek(42, 0), 0); // fed, not reading a source
    TvxSource bad{};
    EXPECT_EQ(TvxSetSource(42, &bad), 0);
    std::vector<unsigned char> bytes(10);
    TvxSource good{readBytes, &bytes, 10};
    EXPECT_EQ(TvxSetSource(42, &good), 1);
    const unsigned char block[4] = {};
    EXPECT_EQ(TvxInputData(42, block, 4), 0); // a source port takes no fed data
    TvxCloseStream(42);
}

} // namespace
