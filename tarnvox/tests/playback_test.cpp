// Playback through the Tvx* port interface: every format plays all its pictures, buffered data
// reaches 0 only when everything fed was shown, speed steps, pause and single frames, snapshot,
// record, damaged streams, several ports at once.
#include "slots.h"
#include "support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <sys/resource.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

using namespace tvxtest;

namespace {

class Playback : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (int port = 0; port < TVX_PORTS; ++port) {
            TvxCloseStream(port);
            TvxSoundOff(port);
            tvx_set_port_options(port, {});
        }
    }
    // Feeds the whole file, says the input ended, and waits until everything was shown.
    static bool playAll(int port, const std::string& path)
    {
        return feed(port, readAll(path)) && tvx_end_of_input(port) && tvx_wait_shown(port, 30000);
    }
};

struct FormatCase {
    const char* name;
    std::string Streams::*path;
    unsigned playedSeconds; // of the last picture
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.name;
}

class EveryFormat : public Playback, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(EveryFormat, ShowsEveryPictureAndEndsWithNothingBuffered)
{
    const std::string& path = streams().*GetParam().path;
    TVX_NEED_STREAM(path);
    int expected = framemd5Pictures(ffmpegFramemd5(path));
    ASSERT_GT(expected, 0);
    std::atomic<int> decoded{0};
    RecordingSink sink;
    ASSERT_TRUE(start(3, &sink, unlimited(&decoded)));
    ASSERT_TRUE(playAll(3, path));
    EXPECT_EQ(decoded, expected);
    EXPECT_EQ(sink.count(), static_cast<size_t>(expected));
    EXPECT_EQ(sink.picture(0).size(), QSize(64, 48));
    EXPECT_EQ(sink.picture(0).format(), QImage::Format_RGB32);
    EXPECT_EQ(TvxGetBufferedData(3), 0u);
    EXPECT_EQ(TvxGetBufferValue(3, 3), 0);
    EXPECT_EQ(TvxGetPlayedSeconds(3), GetParam().playedSeconds);
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat,
                         ::testing::Values(FormatCase{"ps", &Streams::ps, 2},
                                           FormatCase{"h264", &Streams::h264, 2},
                                           FormatCase{"ts", &Streams::ts, 2},
                                           FormatCase{"mjpeg", &Streams::mjpeg, 2},
                                           FormatCase{"lpcm", &Streams::lpcm, 1},
                                           FormatCase{"hevc", &Streams::hevc, 2},
                                           FormatCase{"hevc_in_ts", &Streams::tsHevc, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Playback, BufferedDataIsZeroOnlyWhenEveryPictureWasShown)
{
    TVX_NEED_STREAMS();
    std::atomic<int> decoded{0};
    RecordingSink sink;
    ASSERT_TRUE(start(5, &sink, unlimited(&decoded)));
    auto bytes = readAll(streams().ps);
    ASSERT_TRUE(feed(5, bytes));
    ASSERT_TRUE(tvx_end_of_input(5));
    // Watch closely: the first time the port reports 0, every picture must be on screen.
    while (TvxGetBufferedData(5) != 0 || TvxGetBufferValue(5, 3) != 0)
        std::this_thread::yield();
    EXPECT_EQ(sink.count(), 75u);
    EXPECT_EQ(decoded, 75);
}

TEST_F(Playback, IdleInputDrainsWithoutAnEndOfInputCall)
{
    // A player never says that its file ended: silence on the input must do it.
    TVX_NEED_STREAMS();
    std::atomic<int> decoded{0};
    TvxPortOptions o = unlimited(&decoded);
    o.idleDrainMs = 50;
    RecordingSink sink;
    ASSERT_TRUE(start(6, &sink, o));
    ASSERT_TRUE(feed(6, readAll(streams().h264)));
    ASSERT_TRUE(eventually([] { return TvxGetBufferedData(6) == 0; }));
    EXPECT_EQ(decoded, 75);
    // Feeding again after the drain starts a new probe; the port keeps playing.
    ASSERT_TRUE(feed(6, readAll(streams().h264)));
    ASSERT_TRUE(eventually([] { return TvxGetBufferedData(6) == 0; }));
    EXPECT_EQ(decoded, 150);
}

TEST_F(Playback, PausedPortKeepsDataBufferedUntilResumed)
{
    TVX_NEED_STREAMS();
    RecordingSink sink;
    ASSERT_TRUE(start(7, &sink, unlimited()));
    ASSERT_TRUE(TvxPause(7, 1));
    ASSERT_TRUE(feed(7, readAll(streams().ps)));
    tvx_end_of_input(7);
    ASSERT_TRUE(eventually([] { return TvxGetBufferValue(7, 3) == 8; })); // queue full
    EXPECT_EQ(sink.count(), 0u);
    EXPECT_NE(TvxGetBufferedData(7), 0u);
    EXPECT_EQ(tvx_wait_shown(7, 20), 0);
    ASSERT_TRUE(TvxPause(7, 0));
    ASSERT_TRUE(tvx_wait_shown(7, 30000));
    EXPECT_EQ(sink.count(), 75u);
}

struct SpeedCase {
    const char* name;
    const char* calls;   // S = TvxSlower, F = TvxFaster, P = TvxPlay
    const char* results; // what each call returns
    int64_t spacingUs;   // distance between pictures on the clock
};

void PrintTo(const SpeedCase& c, std::ostream* os)
{
    *os << c.name;
}

class SpeedSteps : public Playback, public ::testing::WithParamInterface<SpeedCase> {};

// Plays the raw H.264 recording on `port` against a virtual clock and gives the clock times at
// which the sink got the pictures. `beforeData` runs after TvxPlay, before any byte is fed;
// `onFrame` is the port's onVideoFrame.
std::vector<int64_t> pacedTimes(int port, const std::function<void(RecordingSink&)>& beforeData,
                                std::function<void(const TvxVideoFrame&)> onFrame = {})
{
    VirtualClock clock;
    RecordingSink sink(QSize(16, 16), &clock);
    TvxPortOptions o;
    o.clock = &clock;
    o.onVideoFrame = std::move(onFrame);
    if (!start(port, &sink, o))
        return {};
    beforeData(sink);
    feed(port, readAll(streams().h264));
    tvx_end_of_input(port);
    tvx_wait_shown(port, 30000);
    TvxCloseStream(port);
    return sink.times();
}

TEST_P(SpeedSteps, SpaceThePicturesByTheSpeedFactor)
{
    TVX_NEED_STREAMS();
    const SpeedCase& c = GetParam();
    std::vector<int64_t> t = pacedTimes(9, [&](RecordingSink& sink) {
        for (size_t i = 0; i < std::strlen(c.calls); ++i) {
            int r = c.calls[i] == 'S'   ? TvxSlower(9)
                    : c.calls[i] == 'F' ? TvxFaster(9)
                                        : TvxPlay(9, &sink);
            EXPECT_EQ(r, c.results[i] - '0') << "call " << i;
        }
    });
    ASSERT_EQ(t.size(), 75u);
    for (size_t i = 1; i < t.size(); ++i)
        ASSERT_EQ(t[i] - t[i - 1], c.spacingUs) << "picture " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Levels, SpeedSteps,
    ::testing::Values(SpeedCase{"normal", "", "", 40000},
                      SpeedCase{"half", "S", "1", 80000},
                      SpeedCase{"quarter", "SS", "11", 160000},
                      SpeedCase{"eighth", "SSS", "111", 320000},
                      SpeedCase{"slowest_stays", "SSSS", "1110", 320000},
                      SpeedCase{"double", "F", "1", 20000},
                      SpeedCase{"fourfold", "FF", "11", 10000},
                      SpeedCase{"eightfold", "FFF", "111", 5000},
                      SpeedCase{"fastest_stays", "FFFF", "1110", 5000},
                      SpeedCase{"play_returns_to_normal", "SSP", "111", 40000},
                      SpeedCase{"slow_then_faster", "SSF", "111", 80000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Playback, SpeedChangeMidStreamKeepsTheSpacingFromThePictureOnScreen)
{
    TVX_NEED_STREAMS();
    // Change the speed from inside the presentation thread as picture 10 is handed over.
    std::atomic<int> seen{0};
    std::vector<int64_t> t = pacedTimes(10, [](RecordingSink&) {}, [&](const TvxVideoFrame&) {
        if (++seen == 10)
            TvxFaster(10);
    });
    ASSERT_EQ(t.size(), 75u);
    EXPECT_EQ(t[9] - t[8], 40000);
    EXPECT_EQ(t[10] - t[9], 20000);
    EXPECT_EQ(t[74] - t[73], 20000);
}

// Pauses `port` (virtual clock) with its queue full, runs `whilePaused`, resumes and gives the
// clock times at which the sink got the pictures of the raw H.264 recording. `onPresent` runs
// inside the sink for each picture (its number from 0).
std::vector<int64_t> timesAfterFullQueue(int port, const std::function<void()>& whilePaused,
                                         std::function<void(VirtualClock&, size_t)> onPresent,
                                         std::atomic<int>* decoded)
{
    VirtualClock clock;
    struct Sink : RecordingSink {
        Sink(VirtualClock& c, std::function<void(VirtualClock&, size_t)> f)
            : RecordingSink(QSize(16, 16), &c), clock(c), hook(std::move(f))
        {
        }
        void present(const QImage& picture) override
        {
            RecordingSink::present(picture);
            if (hook)
                hook(clock, count() - 1);
        }
        VirtualClock& clock;
        std::function<void(VirtualClock&, size_t)> hook;
    } sink(clock, std::move(onPresent));
    TvxPortOptions o;
    o.clock = &clock;
    o.onVideoFrame = [decoded](const TvxVideoFrame&) { ++*decoded; };
    if (!start(port, &sink, o) || !TvxPause(port, 1))
        return {};
    feed(port, readAll(streams().h264));
    tvx_end_of_input(port);
    if (!eventually([&] { return TvxGetBufferValue(port, 3) == 8; }) || sink.count() != 0)
        return {};
    whilePaused();
    TvxPause(port, 0);
    tvx_wait_shown(port, 30000);
    TvxCloseStream(port);
    return sink.times();
}

TEST_F(Playback, SpeedChangeWhilePausedWithPicturesQueuedTakesEffectOnResume)
{
    TVX_NEED_STREAMS();
    std::atomic<int> decoded{0};
    std::vector<int64_t> t = timesAfterFullQueue(
        17, [] { EXPECT_EQ(TvxFaster(17), 1); }, {}, &decoded);
    ASSERT_EQ(t.size(), 75u);
    for (size_t i = 1; i < t.size(); ++i)
        ASSERT_EQ(t[i] - t[i - 1], 20000) << "picture " << i;
}

TEST_F(Playback, LatePicturesArePassedOverAndTheRestKeepTheirTime)
{
    TVX_NEED_STREAMS();
    // Drawing picture 2 takes 130 ms (the port falls behind by more than three intervals):
    // pictures 3 and 4 are due before the time is up and passed over; picture 5 goes on screen
    // 10 ms late, and from picture 6 on every picture keeps its time from before.
    std::atomic<int> decoded{0};
    std::vector<int64_t> t = timesAfterFullQueue(
        18, [] {},
        [](VirtualClock& clock, size_t n) {
            if (n == 2)
                clock.advance(130'000);
        },
        &decoded);
    ASSERT_EQ(t.size(), 73u);
    EXPECT_EQ(decoded, 75); // passed-over pictures were decoded and seen by onVideoFrame
    EXPECT_EQ(t[2] - t[0], 80'000);
    EXPECT_EQ(t[3] - t[0], 80'000 + 130'000); // picture 5, due at 200 ms
    for (size_t i = 4; i < t.size(); ++i)
        ASSERT_EQ(t[i] - t[0], static_cast<int64_t>(i + 2) * 40'000) << "picture " << i + 2;
}

TEST_F(Playback, APortClosedWhileDecodingLeavesTheOthersPlaying)
{
    TVX_NEED_STREAMS();
    // One decoding slot for all: the closed port holds it or waits for it most of the time.
    ASSERT_EQ(tvx_set_decoding_slots(1), 1);
    auto bytes = readAll(streams().ps);
    for (int closeAfter : {1, 8, 30}) {
        std::atomic<int> closing{0}, other{0};
        RecordingSink a, b;
        ASSERT_TRUE(start(40, &a, unlimited(&closing)));
        ASSERT_TRUE(start(41, &b, unlimited(&other)));
        std::thread feeder([&] { feed(41, bytes); tvx_end_of_input(41); });
        std::thread closer([&] {
            feed(40, bytes, 0, bytes.size() / 2);
            eventually([&] { return closing >= closeAfter; });
            TvxCloseStream(40);
        });
        closer.join();
        feeder.join();
        EXPECT_EQ(TvxGetBufferedData(40), 0u); // free again
        ASSERT_TRUE(tvx_wait_shown(41, 30000));
        EXPECT_EQ(other, 75);
        ASSERT_TRUE(TvxCloseStream(41));
        EXPECT_EQ(tarnvox::DecodeSlots::shared().freeSlots(), 1) << "a slot was not given back";
    }
    tvx_set_decoding_slots(0);
}

TEST_F(Playback, StepsForwardAndBackExactly)
{
    TVX_NEED_STREAMS();
    std::atomic<int> decoded{0};
    RecordingSink sink{QSize()}; // pictures at their own size, compared exactly
    ASSERT_TRUE(start(11, &sink, unlimited(&decoded)));
    ASSERT_TRUE(TvxPause(11, 1));
    ASSERT_TRUE(feed(11, readAll(streams().ps)));
    tvx_end_of_input(11);
    auto shown = [&](size_t n) { return eventually([&] { return sink.count() == n; }); };

    ASSERT_TRUE(TvxStepNext(11));
    ASSERT_TRUE(TvxStepNext(11));
    ASSERT_TRUE(TvxStepNext(11));
    ASSERT_TRUE(shown(3)); // pictures 0 1 2
    ASSERT_TRUE(TvxStepFront(11));
    ASSERT_TRUE(shown(4));
    EXPECT_EQ(sink.picture(3), sink.picture(1));
    ASSERT_TRUE(TvxStepFront(11));
    ASSERT_TRUE(shown(5));
    EXPECT_EQ(sink.picture(4), sink.picture(0));
    EXPECT_EQ(TvxStepFront(11), 0); // nothing before the first picture
    ASSERT_TRUE(TvxStepNext(11));
    ASSERT_TRUE(shown(6));
    EXPECT_EQ(sink.picture(5), sink.picture(1));
    EXPECT_NE(sink.picture(1), sink.picture(2));

    // Playing on goes over picture 2 again, then on to the end.
    ASSERT_TRUE(TvxPause(11, 0));
    ASSERT_TRUE(tvx_wait_shown(11, 30000));
    ASSERT_EQ(sink.count(), 6u + 1u + 72u);
    EXPECT_EQ(sink.picture(6), sink.picture(2));
    EXPECT_EQ(decoded, 75);
}

TEST_F(Playback, PausedTickDrawsThePictureAgainAtTheNewSize)
{
    TVX_NEED_STREAMS();
    RecordingSink sink(QSize(32, 32));
    ASSERT_TRUE(start(12, &sink, unlimited()));
    EXPECT_EQ(TvxPausedTick(12), 0); // nothing on screen yet
    ASSERT_TRUE(playAll(12, streams().ps));
    size_t before = sink.count();
    sink.setSize(QSize(40, 30));
    ASSERT_TRUE(TvxPause(12, 1));
    ASSERT_TRUE(TvxPausedTick(12));
    ASSERT_TRUE(eventually([&] { return sink.count() == before + 1; }));
    EXPECT_EQ(sink.picture(before).size(), QSize(40, 30));
}

TEST_F(Playback, PicturesFollowASizeChangeOfTheSink)
{
    TVX_NEED_STREAMS();
    // The decoding thread makes each image ahead at the size asked last; pictures already made
    // when the pane changes size must still reach it at the new size.
    RecordingSink sink(QSize(32, 24));
    std::atomic<int> seen{0};
    TvxPortOptions o = unlimited();
    o.onVideoFrame = [&](const TvxVideoFrame&) {
        if (++seen == 20)
            sink.setSize(QSize(48, 36));
    };
    ASSERT_TRUE(start(13, &sink, o));
    ASSERT_TRUE(playAll(13, streams().ps));
    ASSERT_EQ(sink.count(), 75u);
    for (size_t i = 0; i < sink.count(); ++i)
        ASSERT_EQ(sink.picture(i).size(), i < 19 ? QSize(32, 24) : QSize(48, 36)) << "picture " << i;
}

TEST_F(Playback, DecodingRunsBelowThePriorityOfTheCaller)
{
    TVX_NEED_STREAMS();
    RecordingSink sink;
    ASSERT_TRUE(start(15, &sink));
    ASSERT_TRUE(feed(15, readAll(streams().ps)));
    // The decoding thread's nice value, from /proc (field 19 of its stat line).
    int decoderNice = INT_MIN;
    ASSERT_TRUE(eventually([&] {
        QDir tasks("/proc/self/task");
        for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(tid + "/comm")), stat(tasks.filePath(tid + "/stat"));
            if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "tvx-dec-15" ||
                !stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            decoderNice = fields.value(16).toInt(); // field 19 counted from pid
            return true;
        }
        return false;
    }));
    EXPECT_EQ(decoderNice, std::min(getpriority(PRIO_PROCESS, 0) + 5, 19));
}

TEST_F(Playback, AfterPlayReturnsTheOldSinkIsNeverCalled)
{
    TVX_NEED_STREAMS();
    RecordingSink first, second;
    std::atomic<int> decoded{0};
    TvxPortOptions o = unlimited(&decoded);
    ASSERT_TRUE(start(13, &first, o));
    auto bytes = readAll(streams().ps);
    std::thread feeder([&] { feed(13, bytes); tvx_end_of_input(13); });
    ASSERT_TRUE(eventually([&] { return decoded > 5; }));
    ASSERT_TRUE(TvxPlay(13, &second));
    size_t frozen = first.count();
    feeder.join();
    ASSERT_TRUE(tvx_wait_shown(13, 30000));
    EXPECT_EQ(first.count(), frozen);
    EXPECT_EQ(first.count() + second.count(), 75u);
}

TEST_F(Playback, SnapshotIsA24BitBmpOfThePictureOnScreen)
{
    TVX_NEED_STREAMS();
    std::string path = streams().scratch + "/snap.bmp";
    ASSERT_TRUE(TvxOpenStream(14, nullptr, 0, 0));
    EXPECT_EQ(TvxSnapshot(14, path.c_str()), 0); // nothing shown yet
    ASSERT_TRUE(tvx_set_port_options(14, unlimited()));
    ASSERT_TRUE(TvxPlay(14, nullptr)); // no window: pictures are still shown (nowhere)
    ASSERT_TRUE(playAll(14, streams().ps));
    ASSERT_TRUE(TvxSnapshot(14, path.c_str()));
    std::vector<unsigned char> bmp = readAll(path);
    ASSERT_GE(bmp.size(), 54u);
    auto le32 = [&](size_t at) {
        return int32_t(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
    };
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32(18), 352);
    EXPECT_EQ(std::abs(le32(22)), 288);
    EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);
    EXPECT_EQ(bmp.size(), 54u + 352u * 3u * 288u);
    QImage back(QString::fromStdString(path));
    EXPECT_EQ(back.size(), QSize(352, 288));

    EXPECT_EQ(TvxSnapshot(14, (streams().scratch + "/missing/snap.bmp").c_str()), 0);
    EXPECT_EQ(TvxSnapshot(14, ""), 0);
    EXPECT_EQ(TvxSnapshot(14, nullptr), 0);
}

// The record takes the bytes the port decodes from its start on: here, once the first part was
// decoded and shown, exactly the bytes fed after it.
TEST_F(Playback, RecordHoldsExactlyTheBytesDecodedAfterItsStart)
{
    TVX_NEED_STREAMS();
    std::string path = streams().scratch + "/record.bin";
    EXPECT_EQ(TvxStartRecord(15, path.c_str(), 0), 0); // port not open
    ASSERT_TRUE(start(15, nullptr, unlimited()));
    auto bytes = readAll(streams().ps);
    size_t half = 5 * 32768 + 1000;
    ASSERT_TRUE(feed(15, bytes, 0, half));
    ASSERT_EQ(tvx_wait_shown(15, 30000), 1);
    ASSERT_TRUE(TvxStartRecord(15, path.c_str(), 0));
    ASSERT_TRUE(feed(15, bytes, half));
    ASSERT_EQ(tvx_wait_shown(15, 30000), 1);
    ASSERT_TRUE(TvxStopRecord(15));
    EXPECT_EQ(TvxStopRecord(15), 0); // none running
    std::vector<unsigned char> recorded = readAll(path);
    EXPECT_TRUE(recorded == std::vector<unsigned char>(bytes.begin() + half, bytes.end()));
    EXPECT_EQ(TvxStartRecord(15, (streams().scratch + "/missing/r.bin").c_str(), 0), 0);
}

TEST_F(Playback, RingTakesWholeBlocksUntilFull)
{
    ASSERT_TRUE(TvxOpenStream(16, nullptr, 0, 1)); // kept at the smallest ring, 64 KiB
    std::vector<unsigned char> block(32768, 0x47);
    EXPECT_EQ(TvxInputData(16, block.data(), 32768), 1);
    EXPECT_EQ(TvxInputData(16, block.data(), 32767), 1);
    EXPECT_EQ(TvxInputData(16, block.data(), 2), 0); // one byte free: refused whole
    EXPECT_EQ(TvxInputData(16, block.data(), 1), 1);
    EXPECT_EQ(TvxInputData(16, block.data(), 1), 0);
    EXPECT_EQ(TvxGetBufferValue(16, 1), 65536);
    EXPECT_EQ(TvxGetBufferValue(16, 2), 0);
    EXPECT_EQ(TvxGetBufferValue(16, 3), 0);
    EXPECT_EQ(TvxGetBufferValue(16, 4), -1);
    EXPECT_EQ(TvxGetBufferedData(16), 65536u); // not showing: the data waits
    EXPECT_EQ(TvxInputData(16, nullptr, 10), 0);
    EXPECT_EQ(TvxInputData(16, block.data(), 0), 0);
}

TEST_F(Playback, StateRulesOfAPort)
{
    RecordingSink sink;
    // Port numbers outside 0–63 fail everything.
    for (int bad : {-1, TVX_PORTS}) {
        EXPECT_EQ(TvxOpenStream(bad, nullptr, 0, 0), 0);
        EXPECT_EQ(TvxPlay(bad, &sink), 0);
        EXPECT_EQ(TvxCloseStream(bad), 0);
        EXPECT_EQ(TvxSoundOn(bad), 0);
        EXPECT_EQ(TvxGetBufferValue(bad, 3), 0);
        EXPECT_EQ(tvx_set_port_options(bad, {}), 0);
    }
    // A free port: nothing to show, close is fine.
    EXPECT_EQ(TvxPlay(20, &sink), 0);
    EXPECT_EQ(TvxSetStreamMode(20, 1), 0);
    EXPECT_EQ(TvxStop(20), 0);
    EXPECT_EQ(TvxPause(20, 1), 0);
    EXPECT_EQ(TvxStepNext(20), 0);
    EXPECT_EQ(TvxFaster(20), 0);
    EXPECT_EQ(TvxGetBufferedData(20), 0u);
    EXPECT_EQ(TvxGetPlayedSeconds(20), 0u);
    EXPECT_EQ(TvxCloseStream(20), 1);
    EXPECT_EQ(TvxSoundOn(20), 1); // the sound choice belongs to the port
    // Open: takes data, not yet showing.
    ASSERT_EQ(TvxOpenStream(20, nullptr, 0, 0), 1);
    EXPECT_EQ(TvxOpenStream(20, nullptr, 0, 0), 0);
    EXPECT_EQ(TvxSetStreamMode(20, 2), 0);
    EXPECT_EQ(TvxPause(20, 1), 0);
    EXPECT_EQ(TvxStepFront(20), 0);
    EXPECT_EQ(TvxStop(20), 1);
    // Showing, then stopped again, then showing again.
    ASSERT_EQ(TvxPlay(20, &sink), 1);
    EXPECT_EQ(tvx_set_port_options(20, {}), 0); // not while showing
    EXPECT_EQ(TvxPause(20, 1), 1);
    EXPECT_EQ(TvxStepNext(20), 1);
    EXPECT_EQ(TvxStepFront(20), 0); // no picture before the one on screen
    EXPECT_EQ(TvxStop(20), 1);
    EXPECT_EQ(TvxPause(20, 0), 0);
    EXPECT_EQ(TvxPlay(20, &sink), 1);
    EXPECT_EQ(TvxCloseStream(20), 1);
    EXPECT_EQ(TvxInputData(20, reinterpret_cast<const unsigned char*>("x"), 1), 0);
}

TEST_F(Playback, StoppedPortPlaysOnFromItsRingWhenPlayedAgain)
{
    TVX_NEED_STREAMS();
    std::atomic<int> decoded{0};
    RecordingSink sink;
    ASSERT_TRUE(start(21, &sink, unlimited(&decoded)));
    ASSERT_TRUE(TvxStop(21));
    ASSERT_TRUE(feed(21, readAll(streams().h264)));
    EXPECT_GT(TvxGetBufferedData(21), 0u);
    ASSERT_TRUE(TvxPlay(21, &sink));
    tvx_end_of_input(21);
    ASSERT_TRUE(tvx_wait_shown(21, 30000));
    EXPECT_EQ(decoded, 75);
}

// ---- damaged input ----

struct DamageCase {
    const char* name;
    std::function<std::vector<unsigned char>(std::vector<unsigned char>)> damage;
    bool picturesExpected;
};

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.name;
}

class DamagedStream : public Playback, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedStream, NeverCrashesOrHangs)
{
    TVX_NEED_STREAMS();
    std::atomic<int> decoded{0};
    RecordingSink sink;
    ASSERT_TRUE(start(22, &sink, unlimited(&decoded)));
    std::vector<unsigned char> bytes = GetParam().damage(readAll(streams().ps));
    ASSERT_TRUE(feed(22, bytes));
    tvx_end_of_input(22);
    ASSERT_TRUE(tvx_wait_shown(22, 30000));
    if (GetParam().picturesExpected) {
        EXPECT_GT(decoded, 10);
    }
    EXPECT_EQ(sink.count(), static_cast<size_t>(decoded.load()));
}

std::vector<unsigned char> flipBytes(std::vector<unsigned char> b)
{
    std::mt19937 rng(7);
    for (size_t i = b.size() / 5; i < b.size() * 4 / 5; i += 1 + rng() % 700)
        b[i] ^= static_cast<unsigned char>(1 + rng() % 255);
    return b;
}

std::vector<unsigned char> noise(std::vector<unsigned char> b)
{
    std::mt19937 rng(11);
    for (auto& c : b)
        c = static_cast<unsigned char>(rng());
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedStream,
    ::testing::Values(
        DamageCase{"truncated", [](auto b) { b.resize(b.size() * 3 / 5); return b; }, true},
        DamageCase{"cut_mid_packet", [](auto b) { b.resize(100'003); return b; }, true},
        DamageCase{"starts_mid_stream",
                   [](auto b) { return decltype(b)(b.begin() + static_cast<long>(b.size() / 3) + 77, b.end()); },
                   true},
        DamageCase{"flipped_bytes", flipBytes, true},
        DamageCase{"noise", noise, false},
        DamageCase{"zeros", [](auto b) { std::fill(b.begin(), b.end(), 0); return b; }, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- sound ----

struct SoundCase {
    const char* name;
    std::string Streams::*path;
};

void PrintTo(const SoundCase& c, std::ostream* os)
{
    *os << c.name;
}

class Sound : public Playback, public ::testing::WithParamInterface<SoundCase> {};

TEST_P(Sound, IsDecodedOnlyWhileSoundIsOn)
{
    // The test machine has no audio device: sound on must still succeed and play silently.
    TVX_NEED_STREAMS();
    for (bool on : {false, true}) {
        std::atomic<int> audioFrames{0};
        TvxPortOptions o = unlimited();
        o.onAudioFrame = [&](const AVFrame*) { ++audioFrames; };
        EXPECT_EQ(on ? TvxSoundOn(23) : TvxSoundOff(23), 1);
        ASSERT_TRUE(start(23, nullptr, o));
        ASSERT_TRUE(playAll(23, streams().*GetParam().path));
        if (on) {
            EXPECT_GT(audioFrames, 10);
        } else {
            EXPECT_EQ(audioFrames, 0);
        }
        ASSERT_TRUE(TvxCloseStream(23));
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, Sound,
                         ::testing::Values(SoundCase{"mp2_in_ps", &Streams::ps},
                                           SoundCase{"aac_in_ts", &Streams::ts},
                                           SoundCase{"pcm_in_ps", &Streams::lpcm}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- many ports ----

TEST_F(Playback, PortsPlayAtOnceWhileTheUserInterfaceCallsIn)
{
    TVX_NEED_STREAMS();
    constexpr int kPorts = 4;
    const std::string* files[kPorts] = {&streams().ps, &streams().h264, &streams().ts,
                                        &streams().mjpeg};
    std::atomic<int> decoded[kPorts] = {};
    RecordingSink sinks[kPorts];
    for (int i = 0; i < kPorts; ++i) {
        if (i % 2)
            TvxSoundOn(30 + i);
        ASSERT_TRUE(start(30 + i, &sinks[i], unlimited(&decoded[i])));
    }
    std::vector<std::thread> players;
    for (int i = 0; i < kPorts; ++i)
        players.emplace_back([&, i] {
            // The player's loop: feed, then poll until everything was shown.
            feed(30 + i, readAll(*files[i]));
            tvx_end_of_input(30 + i);
            while (TvxGetBufferedData(30 + i) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    // The user-interface thread meanwhile.
    std::string snap = streams().scratch + "/busy.bmp";
    for (int round = 0; round < 200; ++round) {
        int port = 30 + round % kPorts;
        switch (round % 7) {
        case 0: TvxPause(port, 1); break;
        case 1: TvxStepNext(port); break;
        case 2: TvxFaster(port); TvxSlower(port); break;
        case 3: TvxSnapshot(port, snap.c_str()); break;
        case 4: TvxPausedTick(port); TvxGetPlayedSeconds(port); break;
        case 5: TvxStepFront(port); break;
        default: TvxPause(port, 0); break;
        }
    }
    for (int i = 0; i < kPorts; ++i)
        TvxPlay(30 + i, &sinks[i]);
    for (auto& t : players)
        t.join();
    for (int i = 0; i < kPorts; ++i)
        EXPECT_EQ(decoded[i], 75) << "port " << 30 + i;
}

} // namespace

namespace {

TEST_F(Playback, SoundWithAnApplicationObjectButNoDeviceStillPlays)
{
    // With an application object the engine asks Qt Multimedia for the default device; a
    // machine without one plays silently, and the audio thread ends with the application.
    TVX_NEED_STREAMS();
    int argc = 1;
    char name[] = "tarnvox_tests";
    char* argv[] = {name, nullptr};
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    std::atomic<int> decoded{0};
    ASSERT_TRUE(TvxSoundOn(24));
    ASSERT_TRUE(start(24, nullptr, unlimited(&decoded)));
    ASSERT_TRUE(playAll(24, streams().ps));
    EXPECT_EQ(decoded, 75);
    ASSERT_TRUE(TvxSoundOff(24));
    ASSERT_TRUE(TvxCloseStream(24));
    app.reset();
}

} // namespace

namespace {

TEST_F(Playback, ASinkCannotStopItsOwnPortButMayPauseIt)
{
    TVX_NEED_STREAMS();
    struct SelfStopping : RecordingSink {
        std::atomic<int> refused{0};
        void present(const QImage& picture) override
        {
            RecordingSink::present(picture);
            refused += TvxStop(25) == 0;
            refused += TvxCloseStream(25) == 0;
            refused += TvxPlay(25, this) == 0;
            refused += tvx_wait_shown(25, 1000) == 0;
            TvxPause(25, 0);
        }
    } sink;
    ASSERT_TRUE(start(25, &sink, unlimited()));
    ASSERT_TRUE(playAll(25, streams().h264));
    EXPECT_EQ(sink.count(), 75u);
    EXPECT_EQ(sink.refused, 4 * 75);
}

} // namespace
