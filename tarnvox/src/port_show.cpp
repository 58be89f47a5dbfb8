// A port's turn at the presenter: pictures shown at their time, late ones passed over, single
// frames, the history for stepping back, and sound handed to the device as its pictures go on
// screen (see port.h and presenter.h).
#include "budget.h"
#include "log.h"
#include "picture.h"
#include "port.h"

#include <utility>
#include <vector>

namespace tarnvox {

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
    // The share of the showing ports' budget; the picture on screen and those after it stay.
    const PictureBudget budget = historyBudget(ShowingPorts::count());
    while (history_.size() > cursor_ + 1 &&
           (history_.size() > budget.pictures || historyBytes_ > budget.bytes)) {
        historyBytes_ -= history_.front().bytes;
        history_.pop_front();
    }
}

void Port::draw(const AVFrame* frame, const Picture* ready)
{
    std::lock_guard sinkLock(sinkMu_);
    if (!sink_)
        return;
    QSize size = sink_->frameSize(displaySize(frame));
    sinkSize_ = size.isValid() ? uint64_t{static_cast<uint32_t>(size.width())} << 32 |
                                     static_cast<uint32_t>(size.height())
                               : 0;
    if (ready && !ready->image.isNull() && ready->imageSize == size) {
        sink_->present(ready->image);
        return;
    }
    QImage image = showConverter_->convert(frame, size, QImage::Format_RGB32);
    if (!image.isNull())
        sink_->present(image);
}

void Port::drawAgain(std::unique_lock<std::mutex>& lock, bool announce)
{
    const Picture* p = onScreenLocked();
    FramePtr again(p ? av_frame_clone(p->frame.get()) : nullptr);
    TvxVideoFrame info = p ? p->info : TvxVideoFrame{};
    lock.unlock();
    if (again && announce)
        announceShown(info, again.get());
    if (again)
        draw(again.get());
    lock.lock();
}

void Port::announceShown(TvxVideoFrame info, const AVFrame* frame) const
{
    if (!options_.onShown)
        return;
    info.frame = frame;
    options_.onShown(info);
}

namespace {

// Marks the presenter's thread as the port's own while it serves the port.
class OwnThread {
public:
    explicit OwnThread(const Port* port) { markThreadOf(port); }
    ~OwnThread() { markThreadOf(nullptr); }
    OwnThread(const OwnThread&) = delete;
    OwnThread& operator=(const OwnThread&) = delete;
};

} // namespace

// Shows the picture that is due (or the next single frame, or the picture on screen again) and
// says when the port wants its next turn.
int64_t Port::step()
{
    OwnThread own(this);
    std::unique_lock lock(mu_);
    if (stopping_ || state_ != PortState::Showing)
        return kNever;
    if (redraw_) {
        redraw_ = false;
        drawAgain(lock, std::exchange(announce_, false)); // a step back, or the same again
        return kNow;
    }
    // The picture a positioning stopped at goes on screen at once, in every mode.
    const bool positioned = seekShow_ && !queue_.empty();
    bool hold = !positioned &&
                (mode_ == ShowMode::Paused || (mode_ == ShowMode::Step && steps_ == 0));
    const bool fromHistory = cursor_ > 0 && !positioned;
    if (!hold && !fromHistory && queue_.empty()) {
        if (inFlight_ == 0 && ring_.size() == 0)
            releaseSoundLocked(INT64_MAX, mode_ == ShowMode::Normal && pacer_.level() == 0);
        hold = true;
    }
    if (hold)
        return kNever;
    const Picture& next = fromHistory ? history_[history_.size() - cursor_] : queue_.front();
    const bool paced = mode_ == ShowMode::Normal && !options_.unlimited && !positioned;
    int64_t now = clock_->nowUs();
    size_t passOver = 0; // late pictures at the front of the queue that are not drawn
    if (paced) {
        if (!shownAny_ && !fromHistory) {
            int64_t until = lead_.waitUntil(
                now, queue_.back().time.paceUs - queue_.front().time.paceUs,
                queue_.size() >= kQueueDepth, inFlight_ != 0 || ring_.size() != 0);
            if (until != 0)
                return until;
        }
        int64_t due = pacer_.due(next.time.paceUs, now);
        if (due > now)
            return due;
        // A picture whose successor is due as well is late by more than its own interval: the
        // port fell behind. It is passed over (decoded, kept for single frames back, never
        // drawn), so the picture that goes on screen is the newest one due, on time.
        while (!fromHistory && passOver + 1 < queue_.size() &&
               pacer_.expected(queue_[passOver + 1].time.paceUs) <= now)
            ++passOver;
    }
    shownAny_ = true;
    if (mode_ == ShowMode::Step && !positioned)
        --steps_;

    if (fromHistory) {
        // Going forward again over pictures already shown once.
        pacer_.shown(next.time.paceUs, now);
        --cursor_;
        drawAgain(lock, true);
        wakeShowLocked();
        return kNow;
    }

    std::vector<Picture> passed;
    for (; passOver > 0; --passOver) {
        passed.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    Picture picture = std::move(queue_.front());
    queue_.pop_front();
    pacer_.shown(picture.time.paceUs, now);
    if (positioned) {
        // Playing goes on from the picture positioned at, counted from now.
        seekShow_ = false;
        pacer_.restart(now);
        if (stepBack_) {
            // A step back: the pictures decoded before this one are the history from now on.
            stepBack_ = false;
            history_.clear();
            historyBytes_ = 0;
            cursor_ = 0;
            for (Picture& kept : backStretch_) {
                historyBytes_ += kept.bytes;
                history_.push_back(std::move(kept));
            }
            backStretch_.clear();
        }
    }
    presenting_ = 1;
    bool audible = paced && pacer_.level() == 0;
    releaseSoundLocked(picture.stampUs + kSoundLeadUs, audible);
    wakeShowLocked(); // room in the queue
    lock.unlock();
    if (options_.onVideoFrame) {
        passed.push_back(std::move(picture)); // in display order, the drawn one last
        for (Picture& p : passed) {
            TvxVideoFrame info = p.info;
            info.frame = p.frame.get();
            options_.onVideoFrame(info);
        }
        picture = std::move(passed.back());
        passed.pop_back();
    }
    announceShown(picture.info, picture.frame.get());
    draw(picture.frame.get(), &picture);
    lock.lock();
    for (Picture& p : passed) {
        p.image = QImage();
        keepInHistoryLocked(std::move(p));
    }
    picture.image = QImage(); // a picture shown again is converted again
    keepInHistoryLocked(std::move(picture));
    presenting_ = 0;
    wakeShowLocked();
    checkLocked();
    return kNow;
}

} // namespace tarnvox
