// tarnvox — the playback engine.
//
// The viewer plays a recording in a video pane by feeding the recording's bytes, block after
// block, into one of 64 ports. Each port probes the stream (raw H.264 or HEVC, MPEG program
// stream, MPEG transport stream, motion JPEG) on a thread of its own and decodes it in turns
// shared by all ports, the port whose next picture is due soonest first (as many at once as
// there are processors); one presentation thread hands every picture of every port, converted
// to RGB at the pane's size, to the pane's frame sink at the picture's time, scaled by the
// port's speed. Sound (MP2, G.711 A-law/µ-law, AAC, PCM) goes to the default audio
// device for ports whose sound is on; a machine without an audio device plays silently.
//
// Threads: every function may be called from any thread. Calls on different ports never wait
// for each other. On one port, a user-interface call (pause, speed, single frame, snapshot,
// record, sound) may run while the port's feeding thread is inside TvxInputData or
// TvxGetBufferedData; neither of those two ever waits for decoding or drawing.
//
// Results: 32-bit ints, non-zero for success, unless a function says otherwise. A port number
// outside 0–63 fails every call (0).
//
// The port's states and their transitions are described in tarnvox/README.md.
#pragma once

#include <QImage>
#include <QSize>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>

struct AVFrame;

// ---------------------------------------------------------------------------------------------
// The window handle: a frame sink
// ---------------------------------------------------------------------------------------------

// What the engine draws into. A video pane implements it; the "window handle" given to
// TvxPlay is a pointer to the pane's sink. Both functions are called on the engine's
// presentation thread, never on the user-interface thread, and must return quickly without
// waiting for the user-interface thread (no blocking queued calls): the same thread serves every
// port, and TvxPlay, TvxStop and TvxCloseStream wait for a call in progress to return. After
// they return the old sink is never called again.
//
// Neither the sink nor the option callbacks below may stop or restart their own port: TvxPlay,
// TvxStop, TvxCloseStream and tvx_wait_shown called from them return 0. Pause, speed, single
// frame, snapshot, record and sound calls are fine there.
//
// A typical pane keeps its size in an atomic, stores the picture under a small mutex in
// present() and asks for a repaint with a queued call; paintEvent then draws the stored
// picture. The grid's lumenpane::CVideoPane is such a sink.
class TvxFrameSink {
public:
    virtual ~TvxFrameSink() = default;

    // The size in pixels the pane wants a picture in, asked once per picture. pictureSize is
    // the picture's display size (its pixel size corrected by its sample aspect ratio), so a
    // pane that keeps the aspect ratio fits it into its own box. The picture is scaled to the
    // size returned, made one pixel narrower when that width is odd and differs from the
    // picture's (scaling to odd widths is several times slower); an empty size keeps
    // pictureSize.
    virtual QSize frameSize(QSize pictureSize) const = 0;

    // One picture to show now: QImage::Format_RGB32 at the size frameSize() gave (see above).
    // The image owns its pixels and is the pane's to keep (implicitly shared, safe to hand to
    // another thread).
    virtual void present(const QImage& picture) = 0;
};

// ---------------------------------------------------------------------------------------------
// The port interface, in the order a player uses it
// ---------------------------------------------------------------------------------------------

// Number of ports; a port is the index of a video pane, 0–63.
inline constexpr int TVX_PORTS = 64;

// Prepares the engine for use (sends FFmpeg's log to the program's log). May be called any
// number of times from any thread. Always 1.
int TvxPrepare();

// Opens a stream on a free port with an input ring of bufferSize bytes (kept within 64 KiB and
// 64 MiB; 0 chooses 2,048,000). header/headerLength describe the stream in other engines; this
// engine probes the stream itself and ignores them (they may be null/0).
// 1: the port is open and takes data; 0: bad port, port already open, or out of memory.
int TvxOpenStream(int port, const unsigned char* header, unsigned headerLength, unsigned bufferSize);

// Stream mode: 0 live source, 1 recording read from a file. Both are played alike; the mode is
// kept for the caller. 1 when the port is open and the mode is 0 or 1, else 0.
int TvxSetStreamMode(int port, int mode);

// Starts showing the port in the sink `window` (may be null: the stream is then decoded and
// timed but drawn nowhere) at normal speed. On a port already showing it switches to the new
// sink and ends pause, single-frame mode and any speed step. 1 when the port is open, else 0.
// After it returns the previous sink is no longer called.
int TvxPlay(int port, TvxFrameSink* window);

// Offers one block of stream bytes. Takes the whole block or nothing: 1 taken; 0 when the ring
// has no room for it now (offer it again later), the port is not open, data is null or length
// is 0. Never waits for decoding.
int TvxInputData(int port, const unsigned char* data, unsigned length);

// Unsigned amount of fed data not yet shown (bytes in the ring, bytes inside the demuxer and
// decoder, and decoded pictures waiting). 0 exactly when everything fed so far was decoded and
// every picture was shown; a paused port keeps it non-zero. 0 for a port that is not open.
unsigned TvxGetBufferedData(int port);

// Detail of the buffered data. which = 1: bytes waiting in the input ring; 2: free bytes in the
// input ring; 3: decoded pictures waiting to be shown (0 together with TvxGetBufferedData 0:
// all fed data was shown). −1 for another `which`; 0 for a port that is not open.
int TvxGetBufferValue(int port, int which);

// Whole seconds played: the time-stamp distance from the stream's first picture to the picture
// on screen (gaps in the stamps count up to one hour, backward jumps as one picture). 0 before
// the first picture and for a port that is not open.
unsigned TvxGetPlayedSeconds(int port);

// Stops showing: the port's decoding thread ends, the presentation thread lets the port go, and
// pictures not yet shown are dropped; the ring keeps its bytes and the port stays open (TvxPlay
// starts again). 1 when the port is open, else 0.
int TvxStop(int port);

// Closes the stream: stops, ends a running record, frees the ring. The port is free again.
// 1 (also for a port that was free); 0 only for a bad port number.
int TvxCloseStream(int port);

// Pauses (on = 1) or resumes (on = 0) a showing port. Resuming continues at the speed step in
// force and also ends single-frame mode. 1 when the port is showing, else 0.
int TvxPause(int port, int on);

// One speed step faster / slower: the steps are ×1/8, ×1/4, ×1/2, ×1, ×2, ×4, ×8. 1 when the
// speed changed, 0 at the end of the scale or when the port is not showing. Sound is heard at
// ×1 only.
int TvxFaster(int port);
int TvxSlower(int port);

// Single-frame mode, one picture forward: the next picture is shown now (as soon as it is
// decoded) and the port holds it. 1 when the port is showing, else 0.
int TvxStepNext(int port);

// Single-frame mode, one picture back: the picture shown before the one on screen is shown
// again, exactly (the port keeps the most recent decoded pictures within a budget shared by
// all showing ports, see tvx_memory). 0 when no earlier picture is kept or the port is not
// showing.
int TvxStepFront(int port);

// Called each second while paused or in single-frame mode: draws the picture on screen again
// at the sink's current size (the pane may have been resized). 1 when there was a picture.
int TvxPausedTick(int port);

// Sound of the port on / off. The choice belongs to the port and lasts over streams. Without an
// audio device sound on still succeeds and plays nothing. 1 for a valid port.
int TvxSoundOn(int port);
int TvxSoundOff(int port);

// Writes the picture on screen, at its own size, as a 24-bit BMP file at `path` (local
// encoding). 1: written; 0: no picture shown yet, port not open, or the file could not be
// written.
int TvxSnapshot(int port, const char* path);

// The picture on screen as TvxSnapshot writes it, with where it stands in the stream.
struct TvxPicture {
    QImage image;            // at its own size, 24-bit RGB (QImage::Format_RGB888)
    int64_t positionUs = 0;  // from the stream's first picture, as TvxGetPlayedSeconds counts
    int64_t index = 0;       // pictures shown before it in display order (first picture 0)
};
// Fills *picture with the picture on screen. 1: filled; 0: no picture shown yet, port not open,
// picture null, or the picture could not be converted.
int TvxGrabPicture(int port, TvxPicture* picture);

// Starts writing the stream into a new file at `path` (created or truncated), exactly as fed,
// from the bytes the port decodes next on: the record begins close behind the picture on
// screen, not where the feeder has got to (which may be the end of the file), and runs until
// TvxStopRecord or the stream is closed (the end of a played recording). A record already
// running is ended first. flag is reserved (0). 1: the file is open; 0: port not open or the
// file cannot be created. A write error later ends the record (the file keeps what was
// written).
int TvxStartRecord(int port, const char* path, int flag);

// Ends the record and closes its file. 1 when a record was running, else 0.
int TvxStopRecord(int port);

// ---------------------------------------------------------------------------------------------
// Reading a recording at any place: positioning in time
// ---------------------------------------------------------------------------------------------

// Reads up to `length` bytes at byte `offset` of a recording into buffer: the count read, 0 at
// or past the end, < 0 on error. Called on the port's decoding thread only, never on two
// threads at once.
using TvxReadAtFn = long (*)(void* opaque, int64_t offset, unsigned char* buffer, size_t length);

// A recording the port reads by itself instead of being fed: what a port needs to be
// positioned in time.
struct TvxSource {
    TvxReadAtFn readAt = nullptr;
    void* opaque = nullptr; // handed to readAt
    int64_t size = 0;       // bytes in the recording
};

// Makes an open port that is not showing read `source` (null: be fed again through
// TvxInputData). The port then takes no fed data (TvxInputData gives 0) and plays the recording
// from its start at TvxPlay, or from the time of a TvxSeek made before. It reads on to the end
// by itself; TvxGetBufferedData counts the bytes not read yet, and is 0 once the last picture
// was shown and no seek is under way. A record (TvxStartRecord) gets the bytes as they are
// read. source must stay valid until TvxCloseStream or the next TvxSetSource.
// 1 set; 0 bad port, port free or showing, a null readAt or a negative size.
int TvxSetSource(int port, const TvxSource* source);

// Positions a port that reads a source at the time `ms` milliseconds from the recording's first
// picture (time-stamp distance, gaps in the stamps counted up to an hour): the port decodes
// from the key picture at or before that time and shows the first picture whose time is ≥ ms
// at once, whether playing (it plays on from there at the speed in force), paused or holding
// a single frame (it stays so, with that picture on screen). A time past the end shows the last
// picture; a time inside a damaged stretch the first decodable picture after it; a negative
// time the first picture. Pictures kept for stepping back are forgotten. On an open port that
// is not showing the next TvxPlay starts there. How positions are found and what they cost is
// in tarnvox/README.md. 1 when the seek was taken; 0 bad port, port free or without a source.
int TvxSeek(int port, int64_t ms);

// Time of the picture on screen in milliseconds from the recording's first picture (as TvxSeek
// counts), −1 when no picture was shown or the port is free.
int64_t TvxGetPictureTime(int port);

// ---------------------------------------------------------------------------------------------
// Beyond the port interface: options, end of input, headless decoding
// ---------------------------------------------------------------------------------------------

// How many pictures the engine decodes at once over all ports: 0 (the default) one per
// processor, else `count`. The turns go to the port whose next picture is due soonest. Returns
// the number in force after the call. May be called at any time.
int tvx_set_decoding_slots(int count);

// Time source used for showing pictures at their time (a test drives a virtual one). Ports
// on the same clock share one presentation thread.
class TvxClock {
public:
    virtual ~TvxClock() = default;
    // Microseconds on a monotonic scale.
    virtual int64_t nowUs() = 0;
    // Waits until nowUs() reaches deadlineUs or `wake` is notified, with `lock` released while
    // waiting, as std::condition_variable::wait_until does (it may also return early). A virtual
    // clock may instead move its time on to the deadline and return at once.
    virtual void waitUntil(int64_t deadlineUs, std::condition_variable& wake,
                           std::unique_lock<std::mutex>& lock) = 0;
};

// One decoded picture as handed to TvxPortOptions::onVideoFrame.
struct TvxVideoFrame {
    const AVFrame* frame = nullptr; // the decoded picture in its native pixel format
    int64_t pts = 0;                // its time stamp in time_base units (made from the frame
                                    // duration when the stream carries none; first one 0)
    int timeBaseNum = 1;            // time base of pts
    int timeBaseDen = 1;
    int64_t startPts = 0;           // where the stream starts, in time_base: the origin that
                                    // FFmpeg's command line takes when it reads this video
                                    // stream alone
    int frameRateNum = 0;           // nominal frame rate of the stream, 0/1 when unknown
    int frameRateDen = 1;
};

struct TvxPortOptions {
    bool unlimited = false;   // show pictures as fast as they are decoded (no timing)
    int decoderThreads = 1;   // libavcodec threads per stream; 0 = one per processor
    int idleDrainMs = 400;    // input silence after which the port shows what the demuxer still
                              // holds (a stream is never told its end; see tvx_end_of_input)
    TvxClock* clock = nullptr; // pacing clock; null = std::chrono::steady_clock
    // Called on the presentation thread for every decoded picture in display order, as it is
    // shown (or passed over when late), before the sink gets it.
    std::function<void(const TvxVideoFrame&)> onVideoFrame;
    // Called on the presentation thread for every picture as it goes on screen, before the
    // sink gets it: pictures played or stepped to, and pictures shown again from those kept
    // (single frames back and forward again), but not a redraw of the picture on screen.
    std::function<void(const TvxVideoFrame&)> onShown;
    // Called on the decoding thread for every decoded audio frame of a port with sound on.
    std::function<void(const AVFrame*)> onAudioFrame;
};

// Sets the options of a port that is not showing (free, or open and stopped); they apply from
// the next TvxPlay. 1 set; 0 bad port or port showing.
int tvx_set_port_options(int port, const TvxPortOptions& options);

// Tells an open port that no more data follows for now: once the ring is empty the demuxer and
// the decoders give up what they hold at once, without waiting for idleDrainMs. Feeding again
// later starts a new probe. 1 when the port is open.
int tvx_end_of_input(int port);

// Waits until TvxGetBufferedData is 0 or timeoutMs passed (< 0: no limit). 1 when it reached 0;
// 0 on timeout, bad port, a free port, or a port that is not showing while data waits.
int tvx_wait_shown(int port, int timeoutMs);

// Where the memory of decoded pictures goes (tvx_memory).
struct TvxMemory {
    size_t ringBytes = 0;        // input rings (their capacity)
    size_t queuePictures = 0;    // decoded pictures waiting to be shown
    size_t queueImageBytes = 0;  // their images made ready at the pane's size
    size_t historyPictures = 0;  // pictures kept for stepping back (the one on screen included)
    size_t historyBytes = 0;     // their planes
    size_t budgetPictures = 0;   // the most a port may keep for stepping back now
    size_t budgetBytes = 0;
    int showingPorts = 0;        // ports showing now (they share the budget)
    // Bytes of the picture buffers all decoders have made (each decoder's pool holds as many
    // pictures as its references, the queue and the history held at most at once); the whole
    // process, also for one port.
    size_t pictureBufferBytes = 0;
};

// What port `port` holds (−1: every port of the table together) into *out, with the budget each
// showing port keeps its history within. 1; 0 for a bad port number or a null out.
int tvx_memory(int port, TvxMemory* out);

// Reads up to `length` bytes of a stream into buffer: the count read, 0 at the end, < 0 on error.
using TvxReadFn = long (*)(void* opaque, unsigned char* buffer, size_t length);

// Runs a whole stream through a private port of the engine — no window, unlimited speed,
// `threads` decoder threads (0 = one per processor) — and writes one line per decoded picture to
// `out` in the form of FFmpeg's framemd5 output (stream 0 only; the hash is the MD5 of the
// picture in its native pixel format, planes packed without padding), header lines included.
// Result: number of pictures written, or −1 when reading failed (lines written until then stay).
long tvx_framemd5(TvxReadFn read, void* opaque, FILE* out, int threads);

// Writes the framemd5 lines of a recording backwards: a private port positioned at its last
// picture steps back picture by picture (as TvxStepFront does, decoding again from key pictures
// where the pictures kept run out) down to the first, one line per picture shown, so the lines
// are those of tvx_framemd5 in reverse order (times falling). Number of pictures, or −1 when the
// source is unusable or a step showed nothing within a minute (lines written until then stay).
long tvx_framemd5_backward(const TvxSource* source, FILE* out);

// tvx_framemd5 over a local file. −1 when the file cannot be opened or read.
long tvx_framemd5_file(const char* path, FILE* out, int threads);

// Runs a whole stream through a private port as tvx_framemd5 does, calling onFrame for every
// decoded picture instead of writing lines (onFrame may be empty). Number of pictures, or −1
// when reading failed.
long tvx_decode_headless(TvxReadFn read, void* opaque, int threads,
                         const std::function<void(const TvxVideoFrame&)>& onFrame);
