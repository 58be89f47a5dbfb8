// The decoding thread of a port: demux sessions over the input ring, decoding while the thread
// holds a decoding slot, and the queue of decoded pictures and sound (see port.h).
#include "decoder.h"
#include "demuxer.h"
#include "log.h"
#include "picture.h"
#include "port.h"

#include <algorithm>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace tarnvox {

namespace {

size_t pictureBytes(const AVFrame* frame)
{
    int n = av_image_get_buffer_size(static_cast<AVPixelFormat>(frame->format), frame->width,
                                     frame->height, 1);
    return n > 0 ? static_cast<size_t>(n) : 0;
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

// Decoding thread: one demux session after the other while data comes in. A port reading a
// source runs one session, which waits at the source's end for the next positioning.
void Port::decodeLoop()
{
    nameThread("dec", index_);
    lowerThreadPriority(kDecodeNiceSteps);
    markThreadOf(this);
    for (;;) {
        {
            std::unique_lock lock(mu_);
            inputCv_.wait(lock, [this] { return stopping_ || source_ || ring_.size() > 0; });
            if (stopping_)
                return;
        }
        runSession();
        std::unique_lock lock(mu_);
        inFlight_ = 0;
        if (source_) {
            // Nothing playable, or stopping: nothing more will come.
            busy_ = seekPending_ = false;
            wakeShowLocked();
            inputCv_.wait(lock, [this] { return stopping_.load(); });
            return;
        }
        wakeShowLocked();
        if (stopping_)
            return;
    }
}

int Port::readInput(uint8_t* buffer, int size)
{
    if (source_)
        return readSource(buffer, size);
    std::unique_lock lock(mu_);
    for (;;) {
        if (stopping_)
            return AVERROR_EXIT;
        if (ring_.size() > 0) {
            size_t n = ring_.read(buffer, static_cast<size_t>(size));
            inFlight_ += n;
            inputCv_.notify_all();
            lock.unlock();
            // The record takes the bytes as the demuxer takes them, close behind the picture on
            // screen: the feeder runs ahead by as much as the ring holds, often the whole file.
            recorder_.write(buffer, n);
            return static_cast<int>(n);
        }
        if (endOfInput_)
            return AVERROR_EOF;
        int64_t drainAt = lastInputUs_ + int64_t{options_.idleDrainMs} * 1000;
        int64_t now = steadyUs();
        if (now >= drainAt)
            return AVERROR_EOF;
        slot_.drop(); // no decoding slot held while waiting for input
        inputCv_.wait_for(lock, std::chrono::microseconds(drainAt - now));
    }
}

// One demux session: probe, then decode every packet until the input ends, then give up
// everything the decoders still hold. A session over a source also carries out the
// positionings asked for, and at the source's end waits for the next one.
void Port::runSession()
{
    const bool seekable = source_.has_value();
    Demuxer demuxer([this](uint8_t* b, int n) { return readInput(b, n); },
                    [this] { return stopping_.load(); },
                    seekable ? Demuxer::SeekFn([this](int64_t offset, int whence) {
                        return seekSource(offset, whence);
                    })
                             : Demuxer::SeekFn{});
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
    PictureConverter converter;
    auto onPicture = [&](AVFrame* f) { queuePicture(f, fmt, videoStream, vclock, converter); };
    // Video is decoded only in a decoding slot, and only when the queue has room for the
    // picture that may come out (decode-ahead stays within the queue).
    auto decodeVideo = [&](const AVPacket* pkt) {
        if (waitForRoom() && slot_.take())
            video->decode(pkt, onPicture);
    };
    auto onSound = [&](AVFrame* f) { queueSound(f, audioStream, resampler); };
    // The input ended: the decoders give up what they hold.
    auto drain = [&] {
        if (!stopping_ && video)
            decodeVideo(nullptr);
        if (!stopping_ && audio && soundOn_)
            audio->decode(nullptr, onSound);
        finishPositioning();
    };

    AVPacket* packet = av_packet_alloc();
    while (packet && !stopping_) {
        if (seekable && positionIfAsked(demuxer, packet, videoIndex, video.get(), audio.get(),
                                        vclock))
            continue;
        if (demuxer.read(packet) != 0) {
            if (!seekable)
                break;
            keyIndex_.markComplete();
            drain();
            if (!waitForPositioning())
                break;
            continue;
        }
        const AVStream* st = fmt->streams[packet->stream_index];
        AVMediaType type = st->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO) {
            if (!noteVideoPacket(fmt, packet, videoIndex))
                continue;
            if (!video)
                video = openDecoder(st, videoFailed);
            videoStream = st;
            if (video)
                decodeVideo(packet);
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
    if (!seekable)
        drain();
    slot_.drop();
}

// A decoded picture gets its time stamp (made from the frame duration when the stream has
// none), its continuous stream times and its image at the size the sink asked for last, then
// waits in the queue for its turn.
void Port::queuePicture(AVFrame* frame, const AVFormatContext* fmt, const AVStream* st,
                        VideoClock& vc, PictureConverter& converter)
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
    p.durationUs = durationUs;
    p.info = TvxVideoFrame{nullptr, pts, tb.num, tb.den, vc.startPts, rate.num, rate.den};
    p.bytes = pictureBytes(frame);

    // A positioning passes over the pictures before its target, keeping the last one.
    if (filter_.active()) {
        switch (filter_.offer(p.time.positionUs, held_.has_value())) {
        case TargetFilter::Verdict::Keep:
            if (keepStretch_ && held_)
                keepInStretch(std::move(*held_));
            held_ = std::move(p);
            return;
        case TargetFilter::Verdict::ShowKept: {
            Picture kept = std::move(*held_);
            held_.reset();
            if (keepStretch_) {
                // The pictures before the one a step back shows wait to become the history.
                std::lock_guard lock(mu_);
                if (!seekPending_)
                    backStretch_ = std::exchange(stretch_, {});
                stretchBytes_ = 0;
            }
            if (!enqueue(std::move(kept)))
                return;
            break;
        }
        case TargetFilter::Verdict::Show:
            held_.reset();
            break;
        }
    }
    prepareImage(p, converter);
    enqueue(std::move(p));
}

void Port::prepareImage(Picture& p, PictureConverter& converter) const
{
    const uint64_t size = sinkSize_;
    const int64_t width = static_cast<int64_t>(size >> 32), height = size & 0xffffffffu;
    if (size != 0 && width * height <= kReadyImageBytes / 4) {
        p.imageSize = QSize(static_cast<int>(width), static_cast<int>(height));
        p.image = converter.convert(p.frame.get(), p.imageSize, QImage::Format_RGB32);
    }
}

bool Port::enqueue(Picture p)
{
    const int64_t durationUs = p.durationUs;
    std::unique_lock lock(mu_);
    if (queue_.size() >= kQueueDepth) {
        // One packet gave more than one picture: others decode while this one waits for room.
        lock.unlock();
        if (!waitForRoom() || !slot_.take())
            return false;
        lock.lock();
    }
    if (stopping_)
        return false;
    if (seekPending_)
        return true; // a picture of the place the port is leaving
    lastDurationUs_ = durationUs;
    queue_.push_back(std::move(p));
    wakeShowLocked();
    checkLocked();
    return true;
}

bool Port::waitForRoom()
{
    std::unique_lock lock(mu_);
    if (queue_.size() >= kQueueDepth) {
        slot_.drop(); // no decoding slot held while waiting
        // A full queue is refilled in one burst once it has fallen to kRefillAt pictures.
        showCv_.wait(lock, [this] { return stopping_ || queue_.size() <= kRefillAt; });
    }
    ticket_.setDeadline(decodeDeadlineLocked());
    return !stopping_;
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

} // namespace tarnvox
