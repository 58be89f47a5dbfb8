// A port reading a source by itself, and positioning it in time: "decode from a key picture up
// to a target picture" (see seek.h for the parts and tarnvox/README.md for what it costs).
#include "budget.h"
#include "decoder.h"
#include "demuxer.h"
#include "log.h"
#include "port.h"

#include <algorithm>
#include <climits>

namespace tarnvox {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};
constexpr int64_t kDefaultDurationUs = 40'000;

} // namespace

// ---- control calls ---------------------------------------------------------------------------

int Port::setSource(const TvxSource* source)
{
    if (source && (!source->readAt || source->size < 0))
        return 0;
    std::lock_guard cmd(cmdMu_);
    std::lock_guard lock(mu_);
    if (state_ != PortState::Open)
        return 0;
    if (source)
        source_ = *source;
    else
        source_.reset();
    sourcePos_ = 0;
    keyIndex_.clear();
    seekPending_ = false;
    return 1;
}

int Port::seekTo(SeekTarget target)
{
    std::lock_guard lock(mu_);
    if (state_ == PortState::Free || !source_)
        return 0;
    positionLocked(target, false);
    return 1;
}

void Port::positionLocked(SeekTarget target, bool stepBack)
{
    stepBack_ = stepBack;
    backStretch_.clear();
    seekTarget_ = target;
    seekPending_ = true;
    busy_ = true;
    // Nothing decoded for the old place is shown any more; the picture on screen stays until
    // the target's picture replaces it, and is the only one kept.
    queue_.clear();
    sounds_.clear();
    if (!history_.empty()) {
        Picture onScreen = std::move(history_[history_.size() - 1 - cursor_]);
        history_.clear();
        historyBytes_ = onScreen.bytes;
        history_.push_back(std::move(onScreen));
    }
    cursor_ = 0;
    steps_ = 0;
    seekShow_ = state_ == PortState::Showing;
    inputCv_.notify_all();
    wakeShowLocked();
    checkLocked();
}

int64_t Port::pictureTimeMs() const
{
    std::lock_guard lock(mu_);
    const Picture* p = onScreenLocked();
    return p ? p->time.positionUs / 1000 : -1;
}

// ---- reading the source (decoding thread) ----------------------------------------------------

int Port::readSource(uint8_t* buffer, int size)
{
    if (stopping_)
        return AVERROR_EXIT;
    const int64_t at = sourcePos_;
    long n = source_->readAt(source_->opaque, at, buffer, static_cast<size_t>(size));
    if (n < 0)
        return AVERROR(EIO);
    if (n == 0)
        return AVERROR_EOF;
    n = std::min<long>(n, size);
    sourcePos_ = at + n;
    {
        std::lock_guard lock(mu_);
        inFlight_ += static_cast<uint64_t>(n);
    }
    recorder_.write(buffer, static_cast<size_t>(n));
    return static_cast<int>(n);
}

int64_t Port::seekSource(int64_t offset, int whence)
{
    const int64_t size = source_->size;
    if (whence == AVSEEK_SIZE)
        return size;
    int64_t to = whence == SEEK_SET   ? offset
                 : whence == SEEK_CUR ? sourcePos_ + offset
                 : whence == SEEK_END ? size + offset
                                      : -1;
    if (to < 0 || to > size)
        return AVERROR(EINVAL);
    sourcePos_ = to;
    return to;
}

// ---- positioning (decoding thread) -----------------------------------------------------------

bool Port::noteVideoPacket(const AVFormatContext* fmt, const AVPacket* packet, int& videoIndex)
{
    const AVStream* st = fmt->streams[packet->stream_index];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return false;
    if (videoIndex < 0)
        videoIndex = packet->stream_index;
    if (packet->stream_index != videoIndex)
        return false;
    const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (source_ && (packet->flags & AV_PKT_FLAG_KEY) && packet->pos >= 0 &&
        stamp != AV_NOPTS_VALUE) {
        int64_t durationUs = packet->duration > 0
                                 ? av_rescale_q(packet->duration, st->time_base, kMicroseconds)
                                 : kDefaultDurationUs;
        keyIndex_.note(packet->pos, av_rescale_q(stamp, st->time_base, kMicroseconds),
                       std::clamp<int64_t>(durationUs, 1'000, 1'000'000));
    }
    return true;
}

bool Port::positionIfAsked(Demuxer& demuxer, AVPacket* packet, int& videoIndex, Decoder* video,
                           Decoder* audio, VideoClock& clock)
{
    SeekTarget target;
    {
        std::lock_guard lock(mu_);
        if (!seekPending_)
            return false;
        target = seekTarget_;
        seekPending_ = false;
        queue_.clear();
        sounds_.clear();
        wakeShowLocked();
    }
    filter_ = TargetFilter{};
    held_.reset();
    stretch_.clear();
    stretchBytes_ = 0;
    {
        std::lock_guard lock(mu_);
        keepStretch_ = stepBack_;
    }
    // A target beyond the keys read so far: read on (packets only, nothing decoded) until a key
    // past it or the end shows which key comes before it.
    while (keyIndex_.needsMore(target) && !stopping_) {
        {
            std::lock_guard lock(mu_);
            if (seekPending_)
                return true; // a newer target: the session comes back here for it
        }
        if (demuxer.read(packet) != 0) {
            keyIndex_.markComplete();
            break;
        }
        noteVideoPacket(demuxer.context(), packet, videoIndex);
    }
    const std::optional<KeyEntry> key = keyIndex_.keyFor(target);
    if (demuxer.reposition(key ? key->offset : 0) < 0)
        qCInfo(lcEngine, "port %d: cannot move to byte %lld of the recording", index_,
               static_cast<long long>(key ? key->offset : 0));
    if (video)
        video->restart();
    if (audio)
        audio->restart();
    if (key)
        timeline_.resumeAt(key->stampUs, key->positionUs);
    else
        timeline_.reset();
    clock.lastPts = AV_NOPTS_VALUE;
    filter_.start(target);
    std::lock_guard lock(mu_);
    inFlight_ = 0;
    return true;
}

void Port::finishPositioning()
{
    if (!filter_.active())
        return;
    filter_.finish();
    if (held_) {
        // A target past the last decodable picture: that picture is the nearest one.
        Picture last = std::move(*held_);
        held_.reset();
        enqueue(std::move(last));
    }
}

bool Port::waitForPositioning()
{
    slot_.drop();
    std::unique_lock lock(mu_);
    inFlight_ = 0;
    if (!seekPending_)
        busy_ = false;
    wakeShowLocked();
    inputCv_.wait(lock, [this] { return stopping_ || seekPending_; });
    return !stopping_;
}

void Port::keepInStretch(Picture picture)
{
    // Room is left for the picture the step back shows: together they keep within the budget.
    const PictureBudget budget = historyBudget(ShowingPorts::count());
    picture.image = QImage();
    stretchBytes_ += picture.bytes;
    stretch_.push_back(std::move(picture));
    while (!stretch_.empty() && (stretch_.size() + 1 > budget.pictures ||
                                 stretchBytes_ + stretch_.back().bytes > budget.bytes)) {
        stretchBytes_ -= stretch_.front().bytes;
        stretch_.pop_front();
    }
}

} // namespace tarnvox
