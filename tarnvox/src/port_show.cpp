// The presentation thread of a port: pictures shown at their time, single frames, the history
// for stepping back, and sound handed to the device as its pictures go on screen (see port.h).
#include "log.h"
#include "picture.h"
#include "port.h"

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
    while (history_.size() > cursor_ + 1 &&
           (history_.size() > kHistoryPictures || historyBytes_ > kHistoryBytes)) {
        historyBytes_ -= history_.front().bytes;
        history_.pop_front();
    }
}

void Port::draw(const AVFrame* frame, PictureConverter& converter, const Picture* ready)
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
    QImage image = converter.convert(frame, size, QImage::Format_RGB32);
    if (!image.isNull())
        sink_->present(image);
}

// Presentation thread: shows the pictures at their time, or one by one in single-frame mode,
// and draws the picture on screen again when asked.
void Port::showLoop()
{
    nameThread("show", index_);
    markThreadOf(this);
    PictureConverter converter;
    bool shownAny = false; // a picture of this run went on screen
    StartLead lead;        // the wait of the run's first picture
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
            if (!shownAny && !fromHistory) {
                int64_t until = lead.waitUntil(
                    now, queue_.back().time.paceUs - queue_.front().time.paceUs,
                    queue_.size() >= kQueueDepth, inFlight_ != 0 || ring_.size() != 0);
                if (until != 0) {
                    clock_->waitUntil(until, showCv_, lock);
                    continue;
                }
            }
            int64_t due = pacer_.due(next.time.paceUs, now);
            if (due > now) {
                clock_->waitUntil(due, showCv_, lock);
                continue;
            }
        }
        shownAny = true;
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
        draw(picture.frame.get(), converter, &picture);
        picture.image = QImage(); // a picture shown again is converted again
        lock.lock();
        keepInHistoryLocked(std::move(picture));
        presenting_ = 0;
        showCv_.notify_all();
        checkLocked();
    }
}

} // namespace tarnvox
