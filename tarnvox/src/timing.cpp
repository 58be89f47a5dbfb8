// Time of the pictures of a port (see timing.h).
#include "timing.h"

#include <algorithm>
#include <utility>

namespace tarnvox {

StreamTime Timeline::next(int64_t stampUs, int64_t durationUs)
{
    if (!started_) {
        started_ = true;
        lastStamp_ = stampUs;
        last_ = StreamTime{};
        return last_;
    }
    int64_t delta = stampUs - lastStamp_;
    lastStamp_ = stampUs;
    if (std::exchange(resumed_, false) && delta <= 0)
        return last_;
    last_.positionUs += (delta > 0 && delta <= kMaxPositionGapUs) ? delta : durationUs;
    last_.paceUs += (delta > 0 && delta <= kMaxPaceGapUs) ? delta : durationUs;
    ++last_.index;
    return last_;
}

void Timeline::resumeAt(int64_t stampUs, int64_t positionUs)
{
    started_ = true;
    resumed_ = true;
    lastStamp_ = stampUs;
    last_ = StreamTime{positionUs, positionUs};
}

void Pacer::setLevel(int level)
{
    level_ = std::clamp(level, kMinLevel, kMaxLevel);
    if (shownAny_) {
        anchored_ = true;
        anchorWall_ = lastWall_;
        anchorPace_ = lastPace_;
    }
}

int64_t Pacer::scaled(int64_t streamUs) const
{
    return level_ >= 0 ? streamUs >> level_ : streamUs << -level_;
}

int64_t Pacer::due(int64_t paceUs, int64_t nowUs)
{
    if (anchored_ && paceUs >= anchorPace_) {
        int64_t at = anchorWall_ + scaled(paceUs - anchorPace_);
        if (at >= nowUs - kLateLimitUs)
            return at;
    }
    anchored_ = true;
    anchorWall_ = nowUs;
    anchorPace_ = paceUs;
    return nowUs;
}

void Pacer::shown(int64_t paceUs, int64_t atUs)
{
    shownAny_ = true;
    lastPace_ = paceUs;
    lastWall_ = atUs;
}

void Pacer::restart(int64_t nowUs)
{
    anchored_ = shownAny_;
    anchorWall_ = nowUs;
    anchorPace_ = lastPace_;
}

void Pacer::reset()
{
    anchored_ = false;
    shownAny_ = false;
}

int64_t StartLead::waitUntil(int64_t nowUs, int64_t aheadUs, bool full, bool moreComing)
{
    if (aheadUs >= kLeadUs || full || !moreComing)
        return 0;
    if (sinceUs_ < 0)
        sinceUs_ = nowUs;
    return nowUs < sinceUs_ + kLeadUs ? sinceUs_ + kLeadUs : 0;
}

} // namespace tarnvox
