// One port of the engine (see port.h for its states, threads and locks).
#include "port.h"

#include "decoder.h"
#include "demuxer.h"
#include "log.h"
#include "picture.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>

#include <pthread.h>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace tarnvox {

namespace {

class SteadyClock final : public TvxClock {
public:
    int64_t nowUs() override
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void waitUntil(int64_t deadlineUs, std::condition_variable& wake,
                   std::unique_lock<std::mutex>& lock) override
    {
        using namespace std::chrono;
        wake.wait_until(lock, steady_clock::time_point(microseconds(deadlineUs)));
    }
};

SteadyClock& steadyClock()
{
    static SteadyClock clock;
    return clock;
}

size_t pictureBytes(const AVFrame* frame)
{
    int n = av_image_get_buffer_size(static_cast<AVPixelFormat>(frame->format), frame->width,
                                     frame->height, 1);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

void nameThread(const char* role, int port)
{
    char name[16];
    std::snprintf(name, sizeof name, "tvx-%s-%02d", role, port);
    pthread_setname_np(pthread_self(), name);
}

constexpr AVRational kMicroseconds{1, 1000000};

// Where the video stream starts, in its time base: the start of the whole input, or for formats
// whose clock may jump (program and transport streams) the start of the video stream itself
// when it is later. This is the origin FFmpeg's command line uses when it reads only this video
// stream. firstPts when neither is known.
int64_t streamStart(const AVFormatContext* fmt, const AVStream* st, int64_t firstPts)
{
    int64_t start = fmt->start_time != AV_NOPTS_VALUE
                        ? av_rescale_q(fmt->start_time, AV_TIME_BASE_Q, st->time_base)
                        : AV_NOPTS_VALUE;
    if ((fmt->iformat->flags & AVFMT_TS_DISCONT) && st->start_time != AV_NOPTS_VALUE &&
        (start == AV_NOPTS_VALUE || st->start_time > start))
        start = st->start_time;
    return start != AV_NOPTS_VALUE ? start : firstPts;
}

} // namespace

// The rules of a port's state, checked in debug builds after every change.
#ifndef NDEBUG
#define TVX_RULE(cond)                                                                           \
    do {                                                                                         \
        if (!(cond))                                                                             \
            qFatal("tarnvox port %d: broken rule: %s", index_, #cond);                           \
    } while (0)
#else
#define TVX_RULE(cond)                                                                           \
    do {                                                                                         \
    } while (0)
#endif

void FrameFree::operator()(AVFrame* frame) const
{
    av_frame_free(&frame);
}

Port::Port(int index) : index_(index), clock_(&steadyClock()) {}

Port::~Port()
{
    closeStream();
}

int64_t Port::steadyUs() const
{
    return steadyClock().nowUs();
}

// ---- state machine ---------------------------------------------------------------------------

void Port::setStateLocked(PortState to)
{
    bool allowed = (state_ == PortState::Free && to == PortState::Open) ||
                   (state_ == PortState::Open && to == PortState::Showing) ||
                   (state_ == PortState::Showing && to == PortState::Open) ||
                   (state_ == PortState::Open && to == PortState::Free);
    TVX_RULE(allowed);
    state_ = to;
}

void Port::checkLocked() const
{
    // 1. A free port holds nothing; an open or showing port has its ring.
    TVX_RULE((state_ == PortState::Free) == !ring_.allocated());
    TVX_RULE(state_ != PortState::Free || (history_.empty() && !recorder_.running()));
    // 2. Threads run exactly while showing.
    TVX_RULE((state_ == PortState::Showing) == threadsRunning_);
    // 3. Without threads nothing is in flight, queued or in a show mode other than normal.
    TVX_RULE(state_ == PortState::Showing ||
             (queue_.empty() && sounds_.empty() && presenting_ == 0 && inFlight_ == 0 &&
              mode_ == ShowMode::Normal && steps_ == 0 && cursor_ == 0));
    // 4. Bounds.
    TVX_RULE(ring_.size() <= ring_.capacity());
    TVX_RULE(queue_.size() <= kQueueDepth);
    TVX_RULE(presenting_ == 0 || presenting_ == 1);
    TVX_RULE(pacer_.level() >= Pacer::kMinLevel && pacer_.level() <= Pacer::kMaxLevel);
    // 5. The picture on screen is in the history; steps are asked for only in single-frame mode.
    TVX_RULE(history_.empty() ? cursor_ == 0 : cursor_ < history_.size());
    TVX_RULE(steps_ >= 0 && steps_ <= kMaxPendingSteps);
    TVX_RULE(mode_ == ShowMode::Step || steps_ == 0);
}

PortState Port::state() const
{
    std::lock_guard lock(mu_);
    return state_;
}

unsigned Port::bufferedLocked() const
{
    if (state_ == PortState::Free)
        return 0;
    uint64_t total = ring_.size() + inFlight_ + queue_.size() + static_cast<uint64_t>(presenting_);
    return static_cast<unsigned>(std::min<uint64_t>(total, UINT_MAX));
}

const Picture* Port::onScreenLocked() const
{
    return history_.empty() ? nullptr : &history_[history_.size() - 1 - cursor_];
}

// ---- control calls ---------------------------------------------------------------------------

int Port::openStream(size_t bufferSize)
{
    routeFfmpegLog();
    std::lock_guard cmd(cmdMu_);
    std::lock_guard lock(mu_);
    if (state_ != PortState::Free)
        return 0;
    size_t size = bufferSize == 0 ? kDefaultRing : std::clamp(bufferSize, kMinRing, kMaxRing);
    if (!ring_.allocate(size))
        return 0;
    streamMode_ = 1;
    endOfInput_ = false;
    lastInputUs_ = steadyUs();
    pacer_ = Pacer{};
    timeline_.reset();
    audioFailed_ = false;
    setStateLocked(PortState::Open);
    checkLocked();
    return 1;
}

int Port::setStreamMode(int mode)
{
    std::lock_guard lock(mu_);
    if (state_ == PortState::Free || (mode != 0 && mode != 1))
        return 0;
    streamMode_ = mode;
    return 1;
}

int Port::play(TvxFrameSink* sink)
{
    std::lock_guard cmd(cmdMu_);
    if (state() == PortState::Free)
        return 0;
    {
        std::lock_guard sinkLock(sinkMu_);
        sink_ = sink;
    }
    std::lock_guard lock(mu_);
    mode_ = ShowMode::Normal;
    steps_ = 0;
    pacer_.setLevel(0);
    pacer_.restart(clock_->nowUs());
    if (state_ == PortState::Open)
        startThreads();
    showCv_.notify_all();
    checkLocked();
    return 1;
}

int Port::stop()
{
    std::lock_guard cmd(cmdMu_);
    PortState s = state();
    if (s == PortState::Free)
        return 0;
    if (s == PortState::Showing) {
        stopThreads();
        closeAudio();
    }
    return 1;
}

int Port::closeStream()
{
    std::lock_guard cmd(cmdMu_);
    PortState s = state();
    if (s == PortState::Free)
        return 1;
    if (s == PortState::Showing)
        stopThreads();
    closeAudio();
    recorder_.stop();
    {
        std::lock_guard sinkLock(sinkMu_);
        sink_ = nullptr;
    }
    std::lock_guard lock(mu_);
    ring_.release();
    history_.clear();
    historyBytes_ = 0;
    cursor_ = 0;
    endOfInput_ = false;
    setStateLocked(PortState::Free);
    checkLocked();
    return 1;
}

int Port::pause(bool on)
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing)
        return 0;
    if (on) {
        mode_ = ShowMode::Paused;
        steps_ = 0;
    } else if (mode_ != ShowMode::Normal) {
        mode_ = ShowMode::Normal;
        steps_ = 0;
        pacer_.restart(clock_->nowUs());
    }
    showCv_.notify_all();
    checkLocked();
    return 1;
}

int Port::changeLevel(int delta)
{
    std::lock_guard lock(mu_);
    int level = pacer_.level() + delta;
    if (state_ != PortState::Showing || level < Pacer::kMinLevel || level > Pacer::kMaxLevel)
        return 0;
    pacer_.setLevel(level);
    showCv_.notify_all();
    return 1;
}

int Port::faster()
{
    return changeLevel(+1);
}

int Port::slower()
{
    return changeLevel(-1);
}

int Port::stepNext()
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing)
        return 0;
    if (mode_ != ShowMode::Step) {
        mode_ = ShowMode::Step;
        steps_ = 0;
    }
    steps_ = std::min(steps_ + 1, kMaxPendingSteps);
    showCv_.notify_all();
    checkLocked();
    return 1;
}

int Port::stepFront()
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing || history_.size() < cursor_ + 2)
        return 0;
    ++cursor_;
    mode_ = ShowMode::Step;
    steps_ = 0;
    redraw_ = true;
    showCv_.notify_all();
    checkLocked();
    return 1;
}

int Port::pausedTick()
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing || !onScreenLocked())
        return 0;
    redraw_ = true;
    showCv_.notify_all();
    return 1;
}

int Port::soundOn()
{
    soundOn_ = true;
    std::lock_guard lock(mu_);
    audioFailed_ = false;
    return 1;
}

int Port::soundOff()
{
    soundOn_ = false;
    closeAudio();
    return 1;
}

void Port::closeAudio()
{
    std::shared_ptr<AudioChannel> channel;
    {
        std::lock_guard lock(mu_);
        channel = std::move(audio_);
        sounds_.clear();
    }
    AudioOutput::close(channel);
}

int Port::snapshot(const char* path)
{
    if (!path || !*path)
        return 0;
    FramePtr picture;
    {
        std::lock_guard lock(mu_);
        const Picture* p = onScreenLocked();
        if (!p)
            return 0;
        picture.reset(av_frame_clone(p->frame.get()));
    }
    return picture && writeSnapshot(picture.get(), QFile::decodeName(path)) ? 1 : 0;
}

int Port::startRecord(const char* path)
{
    std::lock_guard cmd(cmdMu_);
    if (state() == PortState::Free)
        return 0;
    return recorder_.start(path) ? 1 : 0;
}

int Port::stopRecord()
{
    std::lock_guard cmd(cmdMu_);
    return recorder_.stop() ? 1 : 0;
}

int Port::setOptions(const TvxPortOptions& options)
{
    std::lock_guard cmd(cmdMu_);
    std::lock_guard lock(mu_);
    if (state_ == PortState::Showing)
        return 0;
    options_ = options;
    clock_ = options.clock ? options.clock : &steadyClock();
    return 1;
}

// ---- feeding ---------------------------------------------------------------------------------

int Port::feed(const uint8_t* data, size_t length, bool wait)
{
    if (!data || length == 0)
        return 0;
    {
        std::unique_lock lock(mu_);
        for (;;) {
            if (state_ == PortState::Free)
                return 0;
            if (ring_.write(data, length))
                break;
            // Waiting makes sense only while the threads empty the ring.
            if (!wait || state_ != PortState::Showing || length > ring_.capacity())
                return 0;
            inputCv_.wait(lock);
        }
        endOfInput_ = false;
        lastInputUs_ = steadyUs();
        inputCv_.notify_all();
    }
    recorder_.write(data, length);
    return 1;
}

int Port::inputData(const uint8_t* data, size_t length)
{
    return feed(data, length, false);
}

int Port::inputBlocking(const uint8_t* data, size_t length)
{
    return feed(data, length, true);
}

int Port::endOfInput()
{
    std::lock_guard lock(mu_);
    if (state_ == PortState::Free)
        return 0;
    endOfInput_ = true;
    inputCv_.notify_all();
    return 1;
}

unsigned Port::bufferedData() const
{
    std::lock_guard lock(mu_);
    return bufferedLocked();
}

int Port::bufferValue(int which) const
{
    if (which < 1 || which > 3)
        return -1;
    std::lock_guard lock(mu_);
    if (state_ == PortState::Free)
        return 0;
    size_t value = which == 1 ? ring_.size()
                   : which == 2 ? ring_.space()
                                : queue_.size() + static_cast<size_t>(presenting_);
    return static_cast<int>(std::min<size_t>(value, INT_MAX));
}

unsigned Port::playedSeconds() const
{
    std::lock_guard lock(mu_);
    const Picture* p = onScreenLocked();
    return p ? static_cast<unsigned>(p->time.positionUs / 1'000'000) : 0;
}

int Port::waitShown(int timeoutMs)
{
    using namespace std::chrono;
    auto deadline = steady_clock::now() + milliseconds(std::max(timeoutMs, 0));
    std::unique_lock lock(mu_);
    for (;;) {
        if (state_ == PortState::Free)
            return 0;
        if (bufferedLocked() == 0)
            return 1;
        if (state_ != PortState::Showing)
            return 0;
        if (timeoutMs < 0)
            showCv_.wait(lock);
        else if (showCv_.wait_until(lock, deadline) == std::cv_status::timeout)
            return bufferedLocked() == 0 ? 1 : 0;
    }
}

// ---- threads ---------------------------------------------------------------------------------

void Port::startThreads()
{
    stopping_ = false;
    threadsRunning_ = true;
    setStateLocked(PortState::Showing);
    decodeThread_ = std::thread([this] { decodeLoop(); });
    showThread_ = std::thread([this] { showLoop(); });
}

void Port::stopThreads()
{
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
        inputCv_.notify_all();
        showCv_.notify_all();
    }
    decodeThread_.join();
    showThread_.join();
    std::lock_guard lock(mu_);
    stopping_ = false;
    threadsRunning_ = false;
    queue_.clear();
    sounds_.clear();
    presenting_ = 0;
    inFlight_ = 0;
    mode_ = ShowMode::Normal;
    steps_ = 0;
    redraw_ = false;
    // The picture on screen stays (for a snapshot); pictures after it go.
    for (; cursor_ > 0; --cursor_) {
        historyBytes_ -= history_.back().bytes;
        history_.pop_back();
    }
    setStateLocked(PortState::Open);
    showCv_.notify_all();
    checkLocked();
}

// Decoding thread: one demux session after the other while data comes in.
void Port::decodeLoop()
{
    nameThread("dec", index_);
    for (;;) {
        {
            std::unique_lock lock(mu_);
            inputCv_.wait(lock, [this] { return stopping_ || ring_.size() > 0; });
            if (stopping_)
                return;
        }
        runSession();
        std::lock_guard lock(mu_);
        inFlight_ = 0;
        showCv_.notify_all();
        if (stopping_)
            return;
    }
}

int Port::readInput(uint8_t* buffer, int size)
{
    std::unique_lock lock(mu_);
    for (;;) {
        if (stopping_)
            return AVERROR_EXIT;
        if (ring_.size() > 0) {
            size_t n = ring_.read(buffer, static_cast<size_t>(size));
            inFlight_ += n;
            inputCv_.notify_all();
            return static_cast<int>(n);
        }
        if (endOfInput_)
            return AVERROR_EOF;
        int64_t drainAt = lastInputUs_ + int64_t{options_.idleDrainMs} * 1000;
        int64_t now = steadyUs();
        if (now >= drainAt)
            return AVERROR_EOF;
        inputCv_.wait_for(lock, std::chrono::microseconds(drainAt - now));
    }
}

// One demux session: probe, then decode every packet until the input ends, then give up
// everything the decoders still hold.
void Port::runSession()
{
    Demuxer demuxer([this](uint8_t* b, int n) { return readInput(b, n); },
                    [this] { return stopping_.load(); });
    if (demuxer.open() < 0) {
        qCInfo(lcEngine, "port %d: no playable stream recognised", index_);
        return;
    }
    AVFormatContext* fmt = demuxer.context();
    int videoIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    int audioIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    std::unique_ptr<Decoder> video, audio;
    bool videoFailed = false, audioFailed = false;
    VideoClock vclock;
    Resampler resampler;
    const AVStream* videoStream = nullptr;
    const AVStream* audioStream = nullptr;

    auto openDecoder = [this](const AVStream* st, bool& failed) {
        std::unique_ptr<Decoder> d;
        if (!failed && st->codecpar->codec_id != AV_CODEC_ID_NONE) {
            d = Decoder::open(st->codecpar, st->time_base, options_.decoderThreads);
            failed = !d;
            if (failed)
                qCInfo(lcEngine, "port %d: no decoder for %s", index_,
                       avcodec_get_name(st->codecpar->codec_id));
        }
        return d;
    };
    auto onPicture = [&](AVFrame* f) { queuePicture(f, fmt, videoStream, vclock); };
    auto onSound = [&](AVFrame* f) { queueSound(f, audioStream, resampler); };

    AVPacket* packet = av_packet_alloc();
    while (packet && !stopping_ && demuxer.read(packet) == 0) {
        const AVStream* st = fmt->streams[packet->stream_index];
        AVMediaType type = st->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO) {
            if (videoIndex < 0)
                videoIndex = packet->stream_index;
            if (packet->stream_index != videoIndex)
                continue;
            if (!video)
                video = openDecoder(st, videoFailed);
            videoStream = st;
            if (video)
                video->decode(packet, onPicture);
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            if (audioIndex < 0)
                audioIndex = packet->stream_index;
            if (packet->stream_index != audioIndex || !soundOn_)
                continue;
            if (!audio)
                audio = openDecoder(st, audioFailed);
            audioStream = st;
            if (audio)
                audio->decode(packet, onSound);
        }
    }
    av_packet_free(&packet);
    if (stopping_)
        return;
    if (video)
        video->decode(nullptr, onPicture);
    if (audio && soundOn_)
        audio->decode(nullptr, onSound);
}

// A decoded picture gets its time stamp (made from the frame duration when the stream has
// none) and its continuous stream times, then waits in the queue for its turn.
void Port::queuePicture(AVFrame* frame, const AVFormatContext* fmt, const AVStream* st,
                        VideoClock& vc)
{
    AVRational tb = st->time_base;
    AVRational rate = av_guess_frame_rate(const_cast<AVFormatContext*>(fmt),
                                          const_cast<AVStream*>(st), frame);
    int64_t duration = frame->pkt_duration;
    if (duration <= 0)
        duration = rate.num > 0 && rate.den > 0 ? av_rescale_q(1, av_inv_q(rate), tb)
                                                : av_rescale_q(40'000, kMicroseconds, tb);
    duration = std::max<int64_t>(duration, 1);
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = vc.lastPts == AV_NOPTS_VALUE ? 0 : vc.lastPts + duration;
    vc.lastPts = pts;
    if (vc.startPts == AV_NOPTS_VALUE)
        vc.startPts = streamStart(fmt, st, pts);

    Picture p;
    p.frame.reset(av_frame_clone(frame));
    if (!p.frame)
        return;
    p.stampUs = av_rescale_q(pts, tb, kMicroseconds);
    int64_t durationUs = std::clamp<int64_t>(av_rescale_q(duration, tb, kMicroseconds), 1'000,
                                             1'000'000);
    p.time = timeline_.next(p.stampUs, durationUs);
    p.info = TvxVideoFrame{nullptr, pts, tb.num, tb.den, vc.startPts, rate.num, rate.den};
    p.bytes = pictureBytes(frame);

    std::unique_lock lock(mu_);
    showCv_.wait(lock, [this] { return stopping_ || queue_.size() < kQueueDepth; });
    if (stopping_)
        return;
    queue_.push_back(std::move(p));
    showCv_.notify_all();
    checkLocked();
}

// Decoded sound goes to the test hook, is resampled for the device and waits for its picture.
void Port::queueSound(AVFrame* frame, const AVStream* st, Resampler& resampler)
{
    if (options_.onAudioFrame)
        options_.onAudioFrame(frame);
    std::shared_ptr<AudioChannel> channel;
    {
        std::lock_guard lock(mu_);
        if (audioFailed_)
            return;
        channel = audio_;
    }
    if (!channel) {
        channel = AudioOutput::open(frame->sample_rate, frame->ch_layout.nb_channels);
        std::lock_guard lock(mu_);
        if (!channel) {
            audioFailed_ = true; // no device: this stream plays silently
            return;
        }
        if (!soundOn_) {
            AudioOutput::close(channel);
            return;
        }
        audio_ = channel;
    }
    Sound sound;
    if (!resampler.convert(frame, channel->format(), sound.pcm) || sound.pcm.empty())
        return;
    sound.stampUs = frame->best_effort_timestamp == AV_NOPTS_VALUE
                        ? INT64_MIN
                        : av_rescale_q(frame->best_effort_timestamp, st->time_base, kMicroseconds);
    std::lock_guard lock(mu_);
    sounds_.push_back(std::move(sound));
    size_t limit = static_cast<size_t>(channel->format().bytesPerSecond()) *
                   static_cast<size_t>(kMaxSoundQueueUs / 1'000'000);
    size_t total = 0;
    for (const Sound& s : sounds_)
        total += s.pcm.size();
    for (; total > limit && !sounds_.empty(); sounds_.pop_front())
        total -= sounds_.front().pcm.size();
}

void Port::releaseSoundLocked(int64_t upToUs, bool audible)
{
    for (; !sounds_.empty() && sounds_.front().stampUs <= upToUs; sounds_.pop_front()) {
        if (audible && audio_)
            audio_->write(sounds_.front().pcm.data(), sounds_.front().pcm.size());
    }
}

void Port::keepInHistoryLocked(Picture picture)
{
    historyBytes_ += picture.bytes;
    history_.push_back(std::move(picture));
    while (history_.size() > cursor_ + 1 &&
           (history_.size() > kHistoryPictures || historyBytes_ > kHistoryBytes)) {
        historyBytes_ -= history_.front().bytes;
        history_.pop_front();
    }
}

void Port::draw(const AVFrame* frame, PictureConverter& converter)
{
    std::lock_guard sinkLock(sinkMu_);
    if (!sink_)
        return;
    QImage image = converter.convert(frame, sink_->frameSize(), QImage::Format_RGB32);
    if (!image.isNull())
        sink_->present(image);
}

// Presentation thread: shows the pictures at their time, or one by one in single-frame mode,
// and draws the picture on screen again when asked.
void Port::showLoop()
{
    nameThread("show", index_);
    PictureConverter converter;
    std::unique_lock lock(mu_);
    while (!stopping_) {
        if (redraw_) {
            redraw_ = false;
            const Picture* p = onScreenLocked();
            FramePtr again(p ? av_frame_clone(p->frame.get()) : nullptr);
            lock.unlock();
            if (again)
                draw(again.get(), converter);
            lock.lock();
            continue;
        }
        bool hold = mode_ == ShowMode::Paused || (mode_ == ShowMode::Step && steps_ == 0);
        bool fromHistory = cursor_ > 0;
        if (!hold && !fromHistory && queue_.empty()) {
            if (inFlight_ == 0 && ring_.size() == 0)
                releaseSoundLocked(INT64_MAX, mode_ == ShowMode::Normal && pacer_.level() == 0);
            hold = true;
        }
        if (hold) {
            showCv_.wait(lock);
            continue;
        }
        const Picture& next = fromHistory ? history_[history_.size() - cursor_] : queue_.front();
        if (mode_ == ShowMode::Normal && !options_.unlimited) {
            int64_t now = clock_->nowUs();
            int64_t due = pacer_.due(next.time.paceUs, now);
            if (due > now) {
                clock_->waitUntil(due, showCv_, lock);
                continue;
            }
        }
        if (mode_ == ShowMode::Step)
            --steps_;
        pacer_.shown(next.time.paceUs, clock_->nowUs());

        if (fromHistory) {
            // Going forward again over pictures already shown once.
            --cursor_;
            FramePtr again(av_frame_clone(onScreenLocked()->frame.get()));
            lock.unlock();
            if (again)
                draw(again.get(), converter);
            lock.lock();
            showCv_.notify_all();
            continue;
        }

        Picture picture = std::move(queue_.front());
        queue_.pop_front();
        presenting_ = 1;
        bool audible = mode_ == ShowMode::Normal && pacer_.level() == 0 && !options_.unlimited;
        releaseSoundLocked(picture.stampUs + kSoundLeadUs, audible);
        showCv_.notify_all(); // room in the queue
        lock.unlock();
        if (options_.onVideoFrame) {
            TvxVideoFrame info = picture.info;
            info.frame = picture.frame.get();
            options_.onVideoFrame(info);
        }
        draw(picture.frame.get(), converter);
        lock.lock();
        keepInHistoryLocked(std::move(picture));
        presenting_ = 0;
        showCv_.notify_all();
        checkLocked();
    }
}

} // namespace tarnvox
