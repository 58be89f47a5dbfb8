// One port of the engine: input ring, decoding thread, its stage at the presenter, record, sound.
//
// States (see README.md for the diagram):
//   Free    — no stream. OpenStream → Open.
//   Open    — the ring takes data; nothing is decoded. Play → Showing; CloseStream → Free.
//   Showing — the decoding thread demuxes from the ring and decodes while it holds one of the
//             engine's decoding slots (slots.h); the presenter (presenter.h), shared with every
//             other showing port, shows the pictures. Stop → Open. Inside Showing the show mode
//             is Normal (at the speed level), Paused or Step (single frames).
//
// Threads and locks:
//   cmdMu_  serialises the control calls of a port (open, play, stop, close, record, options…).
//           TvxInputData and TvxGetBufferedData never take it, so a control call that waits for
//           the threads never holds the feeding thread up.
//   mu_     guards every field marked "mu_" below: the ring, the queue, the history, the modes.
//           Held only for short bookkeeping, never while decoding, converting or calling out.
//   sinkMu_ held by the presenter while it converts for and calls the sink, and by Play to
//           change the sink; after Play returns, the old sink is never called again.
//   Lock order: cmdMu_ → sinkMu_ → mu_ → the presenter's lock, the slots' lock (both leaves).
//   A port waits for a decoding slot with none of its locks held. The audio thread's lock
//   (audio.cpp) is taken with none of them held, or with mu_ not held.
#pragma once

#include "audio.h"
#include "presenter.h"
#include "recorder.h"
#include "ring.h"
#include "seek.h"
#include "slots.h"
#include "timing.h"

#include <tarnvox/tarnvox.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <QImage>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tarnvox {

class Decoder;
class Demuxer;
class PictureConverter;

// Names the calling thread "tvx-ROLE-PORT" for debuggers and top.
void nameThread(const char* role, int port);

// Lowers the calling thread's priority by `steps` nice steps (at most to the lowest). The
// decoding threads run below the presentation thread and the user-interface thread: when many
// ports keep the processors busy, the short, punctual work of showing pictures and of the user
// interface comes first, and decoding takes the rest.
void lowerThreadPriority(int steps);

class Port;
// Marks the calling thread as one of `port`'s own threads (null: of none).
void markThreadOf(const Port* port);

enum class PortState { Free, Open, Showing };
enum class ShowMode { Normal, Paused, Step };

struct FrameFree {
    void operator()(AVFrame* frame) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>; // owned reference to a decoded frame

// A decoded picture with everything the presentation needs to know about it.
struct Picture {
    FramePtr frame;            // the decoded picture
    StreamTime time;           // continuous stream times
    int64_t stampUs = 0;       // raw time stamp in µs (to line sound up with pictures)
    TvxVideoFrame info;        // what onVideoFrame gets (info.frame set when called)
    int64_t durationUs = 0;    // how long it lasts
    size_t bytes = 0;          // size of the picture's planes
    QImage image;              // made ready by the decoding thread at imageSize (or null)
    QSize imageSize;           // the size the sink asked for that image was made for
};

// Decoded, resampled sound waiting for its picture.
struct Sound {
    int64_t stampUs = 0;       // raw time stamp in µs
    std::vector<uint8_t> pcm;  // in the port's channel format
};

// Time stamps of the video stream of one demux session.
struct VideoClock {
    int64_t lastPts = AV_NOPTS_VALUE;  // stamp of the last picture, none yet
    int64_t startPts = AV_NOPTS_VALUE; // the stream's start in its time base, unknown yet
};

class Port final : public Presenter::Stage {
public:
    static constexpr size_t kDefaultRing = 2'048'000;
    static constexpr size_t kMinRing = 64 * 1024;
    static constexpr size_t kMaxRing = 64 * 1024 * 1024;
    static constexpr size_t kQueueDepth = 8;           // decoded pictures waiting at most
    // A port whose queue filled up decodes again once the queue has fallen to this many: it then
    // decodes a burst of pictures in a row (see DecodeSlots) instead of one picture at a time.
    static constexpr size_t kRefillAt = kQueueDepth - DecodeSlots::kSharedBurst;
    static constexpr int64_t kSoundLeadUs = 100'000;   // sound goes out this far ahead
    static constexpr int64_t kMaxSoundQueueUs = 2'000'000;
    static constexpr int kMaxPendingSteps = 1000;
    static constexpr int64_t kReadyImageBytes = 512 * 1024;
    static constexpr int kDecodeNiceSteps = 5; // decoding priority below the caller's (see above)
    // A port that fills its queue without a picture due (paused, single frames held) waits for
    // a decoding slot as if its next picture were due this far ahead: it never starves, and
    // ports that must keep time go first.
    static constexpr int64_t kIdleDeadlineUs = 1'000'000;

    explicit Port(int index);
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // The Tvx* functions of this port; results as documented in tarnvox.h.
    int openStream(size_t bufferSize);
    int setStreamMode(int mode);
    int play(TvxFrameSink* sink);
    int inputData(const uint8_t* data, size_t length);
    unsigned bufferedData() const;
    int bufferValue(int which) const;
    unsigned playedSeconds() const;
    int stop();
    int closeStream();
    int pause(bool on);
    int faster();
    int slower();
    int stepNext();
    int stepFront();
    int pausedTick();
    int soundOn();
    int soundOff();
    int snapshot(const char* path);
    int grabPicture(TvxPicture* out);
    int startRecord(const char* path);
    int stopRecord();

    // Reading a source and positioning in it (port_seek.cpp).
    int setSource(const TvxSource* source);
    // Positions the port at `target` (TvxSeek; also the way back to any earlier picture).
    int seekTo(SeekTarget target);
    int64_t pictureTimeMs() const;

    int setOptions(const TvxPortOptions& options);
    int endOfInput();
    int waitShown(int timeoutMs);
    // Offers a block like inputData but waits for room (for the headless runs). 1 taken, 0 when
    // the port is not open or the block is larger than the ring.
    int inputBlocking(const uint8_t* data, size_t length);

    PortState state() const;
    // Adds what the port holds now to `out` (its ring, queue and history; tvx_memory).
    void addMemory(TvxMemory& out) const;

    // The presenter's turn (Presenter::Stage): shows what is due now; see port_show.cpp.
    int64_t step() override;

private:
    // ---- state machine helpers (mu_ held) ----
    void setStateLocked(PortState to);
    void checkLocked() const;
    unsigned bufferedLocked() const;
    const Picture* onScreenLocked() const;
    // A new reference to the picture on screen (null when none), and its times.
    FramePtr onScreenCopy(StreamTime* time) const;
    int changeLevel(int delta);
    // The presenter and the decoding slots must look again: something shown, queued or a mode
    // changed. Also wakes the port's own waiters.
    void wakeShowLocked();
    // When the next picture to decode is due, on the steady clock (the slots' order).
    int64_t decodeDeadlineLocked() const;

    // ---- threads ----
    void startThreads();
    void stopThreads();
    void decodeLoop();
    void runSession();
    int readInput(uint8_t* buffer, int size);
    // ---- reading a source and positioning (port_seek.cpp; decoding thread) ----
    int readSource(uint8_t* buffer, int size);
    int64_t seekSource(int64_t offset, int whence);
    // Carries out the positioning asked for last, if any: reads on until the index knows the
    // key picture for the target, moves the demuxer to it, restarts the decoders and the
    // timeline there and starts the filter that passes over pictures up to the target. false
    // when no positioning was asked for.
    bool positionIfAsked(Demuxer& demuxer, AVPacket* packet, int& videoIndex, Decoder* video,
                         Decoder* audio, VideoClock& clock);
    // Notes the packet in the key index when it is a key picture of the video stream (taking
    // the first video stream's packets when no video stream was chosen yet). true for a packet
    // of the video stream.
    bool noteVideoPacket(const AVFormatContext* fmt, const AVPacket* packet, int& videoIndex);
    // The input ended: the positioning under way ends with the nearest picture.
    void finishPositioning();
    // At the end of a source: waits for the next positioning. false when the port stops.
    bool waitForPositioning();
    // Puts a picture in the queue (waiting for room). false when the port stops.
    bool enqueue(Picture picture);
    int feed(const uint8_t* data, size_t length, bool wait);
    void queuePicture(AVFrame* frame, const AVFormatContext* fmt, const AVStream* stream,
                      VideoClock& clock, PictureConverter& converter);
    // Converts the picture for the sink ahead of time when the sink's image is small.
    void prepareImage(Picture& picture, PictureConverter& converter) const;
    // Waits until the queue has room for a picture (giving up the decoding slot meanwhile) and
    // sets the slot deadline. false when the port stops.
    bool waitForRoom();
    void queueSound(AVFrame* frame, const AVStream* stream, Resampler& resampler);
    // Hands the picture to the sink at the size the sink asks for: `ready` when it was made
    // for that size, else converted from `frame` now (presenter's thread).
    void draw(const AVFrame* frame, const Picture* ready = nullptr);
    // Draws the picture on screen again (presenter's thread; takes and gives back `lock`).
    // `announce`: the picture goes on screen anew (a single frame back or forward), so
    // options_.onShown hears of it; a redraw of the same picture is not announced.
    void drawAgain(std::unique_lock<std::mutex>& lock, bool announce);
    // Tells options_.onShown that `frame` (with `info`) goes on screen (presenter's thread).
    void announceShown(TvxVideoFrame info, const AVFrame* frame) const;
    void releaseSoundLocked(int64_t upToUs, bool audible);
    void keepInHistoryLocked(Picture picture);
    // Starts positioning at `target` (mu_ held, a source set); `stepBack`: keep the stretch.
    void positionLocked(SeekTarget target, bool stepBack);
    // Keeps a picture a step back passed over, within the history budget (decoding thread).
    void keepInStretch(Picture picture);
    void closeAudio();

    int64_t steadyUs() const;
    // true on this port's own decoding thread, or on the presenter while it serves this port
    // (inside the sink or a callback), where calls that wait for those must refuse instead of
    // waiting for themselves.
    bool onOwnThread() const;

    // ---- configuration: written under cmdMu_ and mu_ while not Showing ----
    const int index_;            // port number (for thread names and log lines)
    TvxPortOptions options_;     // options for the next Play
    TvxClock* clock_;            // options_.clock or the steady clock

    std::mutex cmdMu_;           // serialises control calls

    // ---- shared state ----
    mutable std::mutex mu_;
    mutable std::condition_variable inputCv_; // ring got data or room, end of input, stopping
    mutable std::condition_variable showCv_;  // queue, history, modes changed; stopping
    PortState state_ = PortState::Free;       // mu_
    InputRing ring_;                          // mu_
    int streamMode_ = 1;                      // mu_; kept for the caller
    bool endOfInput_ = false;                 // mu_; no more data follows the ring's bytes
    int64_t lastInputUs_ = 0;                 // mu_; steady time of the last block taken
    uint64_t inFlight_ = 0;                   // mu_; bytes taken by the running demux session
    bool threadsRunning_ = false;             // mu_
    std::atomic<bool> stopping_{false};       // threads must end (read without mu_ by FFmpeg)
    std::deque<Picture> queue_;               // mu_; decoded pictures, display order
    std::deque<Sound> sounds_;                // mu_; decoded sound, decode order
    int presenting_ = 0;                      // mu_; 1 while a picture from the queue is drawn
    std::deque<Picture> history_;             // mu_; pictures shown, oldest first
    size_t historyBytes_ = 0;                 // mu_; planes held by history_
    size_t cursor_ = 0;                       // mu_; pictures of history_ after the one on screen
    ShowMode mode_ = ShowMode::Normal;        // mu_
    int steps_ = 0;                           // mu_; single frames asked for, not yet shown
    bool redraw_ = false;                     // mu_; draw the picture on screen again
    bool announce_ = false;                   // mu_; that redraw is a step back (onShown)
    Pacer pacer_;                             // mu_
    std::shared_ptr<AudioChannel> audio_;     // mu_; open sound channel or null
    bool audioFailed_ = false;                // mu_; opening the device failed for this stream
    Presenter* presenter_ = nullptr;          // mu_; the presenter while Showing
    bool shownAny_ = false;                   // mu_; a picture of this run went on screen
    StartLead lead_;                          // mu_; the wait of the run's first picture
    int64_t lastDurationUs_ = 40'000;         // mu_; duration of the picture queued last
    std::atomic<bool> soundOn_{false};        // the port's sound choice (lasts over streams)

    // ---- reading a source, positioning ----
    std::optional<TvxSource> source_;         // cmdMu_ and mu_ while not Showing; the recording
                                              // read at any offset instead of the ring
    std::atomic<int64_t> sourcePos_{0};       // next byte of the source to read
    bool busy_ = false;                       // mu_; the source is still being read or a
                                              // positioning is under way
    bool seekPending_ = false;                // mu_; seekTarget_ waits for the decoding thread
    SeekTarget seekTarget_;                   // mu_
    bool seekShow_ = false;                   // mu_; the next queued picture goes on screen at
                                              // once, in any mode (the positioning's picture)
    KeyIndex keyIndex_;                       // decoding thread (cleared while not Showing)
    TargetFilter filter_;                     // decoding thread
    std::optional<Picture> held_;             // decoding thread; last picture passed over
    // A step back past the pictures kept: the positioning to the picture before the one on
    // screen keeps the pictures it passes over (within the history budget) and they become the
    // history when its picture goes on screen, so the next steps back are shown at once.
    bool stepBack_ = false;                   // mu_; the positioning asked for is a step back
    bool keepStretch_ = false;                // decoding thread; the running one is
    std::deque<Picture> stretch_;             // decoding thread; pictures passed over, oldest first
    size_t stretchBytes_ = 0;                 // decoding thread; their planes
    std::deque<Picture> backStretch_;         // mu_; the stretch before the picture positioned at

    Timeline timeline_;                       // decoding thread only (reset while Free)

    // The size the sink asked for last (width << 32 | height; 0 none yet). The decoding thread
    // converts each picture to it while the picture is still in the processor's cache, when the
    // image takes at most kReadyImageBytes (small panes, where many ports share the processors;
    // the queue then holds at most kQueueDepth such images); the presenter converts
    // again only when the sink then wants another size, and converts larger images itself.
    std::atomic<uint64_t> sinkSize_{0};
    std::mutex sinkMu_;                       // held while the sink is called
    TvxFrameSink* sink_ = nullptr;            // sinkMu_
    std::unique_ptr<PictureConverter> showConverter_; // sinkMu_; the presenter's scaler for this port

    Recorder recorder_;                       // thread-safe itself
    DecodeSlots::Ticket ticket_;              // the decoding thread's place for a slot
    SlotHold slot_{DecodeSlots::shared(), ticket_, stopping_}; // decoding thread only
    std::thread decodeThread_;                // started by Play, joined by Stop
};

} // namespace tarnvox
