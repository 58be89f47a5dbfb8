// Positioning a port at a time: the key index and the picture filter (see seek.h).
#include "seek.h"

#include <algorithm>

namespace tarnvox {

void KeyIndex::clear()
{
    keys_.clear();
    timeline_.reset();
    complete_ = false;
}

void KeyIndex::note(int64_t offset, int64_t stampUs, int64_t durationUs)
{
    if (!keys_.empty() && offset <= keys_.back().offset)
        return;
    keys_.push_back(KeyEntry{offset, stampUs, timeline_.next(stampUs, durationUs).positionUs});
}

bool KeyIndex::needsMore(SeekTarget target) const
{
    if (complete_)
        return false;
    if (keys_.empty())
        return true;
    const int64_t last = keys_.back().positionUs;
    return target.kind == SeekTarget::Kind::AtOrAfter ? last <= target.us : last < target.us;
}

std::optional<KeyEntry> KeyIndex::keyFor(SeekTarget target) const
{
    if (keys_.empty())
        return std::nullopt;
    // The first key past the target; the one before it is the key to decode from.
    auto past = target.kind == SeekTarget::Kind::AtOrAfter
                    ? std::upper_bound(keys_.begin(), keys_.end(), target.us,
                                       [](int64_t us, const KeyEntry& k) { return us < k.positionUs; })
                    : std::lower_bound(keys_.begin(), keys_.end(), target.us,
                                       [](const KeyEntry& k, int64_t us) { return k.positionUs < us; });
    return past == keys_.begin() ? keys_.front() : *(past - 1);
}

void TargetFilter::start(SeekTarget target)
{
    target_ = target;
    active_ = true;
}

TargetFilter::Verdict TargetFilter::offer(int64_t positionUs, bool haveKept)
{
    if (!active_)
        return Verdict::Show;
    if (positionUs < target_.us)
        return Verdict::Keep;
    active_ = false;
    return target_.kind == SeekTarget::Kind::Before && haveKept ? Verdict::ShowKept : Verdict::Show;
}

} // namespace tarnvox
