// Time of the pictures of a port: where a picture stands in the stream (Timeline) and when it is
// due on screen at the port's speed (Pacer). Pure arithmetic; the port's lock guards both.
#pragma once

#include <cstdint>

namespace tarnvox {

// Two continuous times of a picture, in microseconds from the stream's first picture.
struct StreamTime {
    int64_t positionUs = 0; // for the played seconds: forward gaps count up to one hour
    int64_t paceUs = 0;     // for showing: forward gaps count up to three seconds
    int64_t index = 0;      // pictures before this one in display order
};

// Turns the time stamps of the pictures, in display order, into continuous times. A stamp that
// jumps backwards, repeats, or jumps further forward than the limit counts as one picture
// duration, so a broken or wrapping clock never stops or races playback.
class Timeline {
public:
    static constexpr int64_t kMaxPaceGapUs = 3'000'000;
    static constexpr int64_t kMaxPositionGapUs = 3'600'000'000;

    // Times of the next picture with time stamp stampUs (µs, any origin) lasting durationUs.
    StreamTime next(int64_t stampUs, int64_t durationUs);
    // Forgets the pictures seen; the next one is at 0.
    void reset() { started_ = resumed_ = false; }
    // Goes on from a key picture with stamp stampUs at stream position positionUs (after a
    // seek): the next picture stands at positionUs plus its stamp's distance from stampUs (the
    // key picture itself at positionUs; a picture stamped before it at positionUs too).
    void resumeAt(int64_t stampUs, int64_t positionUs);

private:
    bool started_ = false; // a picture was seen
    bool resumed_ = false; // resumeAt was called and no picture came since
    int64_t lastStamp_ = 0; // stamp of the last picture
    StreamTime last_;       // times of the last picture
};

// Decides when a picture is due on the wall clock. Speed levels −3…3 stand for ×1/8 … ×8. The
// pacer keeps an anchor (a wall time and the pace time shown then); a picture is due at
// anchor wall time + (its pace time − anchor pace time) / speed.
class Pacer {
public:
    static constexpr int kMinLevel = -3;
    static constexpr int kMaxLevel = 3;
    static constexpr int64_t kLateLimitUs = 500'000;

    int level() const { return level_; }
    // Sets the speed level (clamped); the pictures after the one on screen keep their distance
    // from it at the new speed.
    void setLevel(int level);
    // Wall time at which the picture with pace time paceUs is due. Without an anchor, or when
    // the picture would be more than kLateLimitUs late (a stall) or lies before the anchor, the
    // pacer anchors at this picture and it is due now.
    int64_t due(int64_t paceUs, int64_t nowUs);
    // Wall time at which the picture with pace time paceUs is due by the anchor in force, with
    // no re-anchoring (a picture before the anchor gives a time before the anchor). Only when
    // anchored().
    int64_t expected(int64_t paceUs) const { return anchorWall_ + scaled(paceUs - anchorPace_); }
    bool anchored() const { return anchored_; }
    // Records that the picture with pace time paceUs went on screen at wall time atUs.
    void shown(int64_t paceUs, int64_t atUs);
    // Playing goes on after a pause or single frames: the next picture keeps its distance from
    // the one on screen, counted from nowUs.
    void restart(int64_t nowUs);
    // Forgets everything but the speed level.
    void reset();

private:
    int64_t scaled(int64_t streamUs) const;

    int level_ = 0;             // speed level −3…3
    bool anchored_ = false;     // anchorWall_/anchorPace_ are valid
    int64_t anchorWall_ = 0;    // wall time of the anchor, µs
    int64_t anchorPace_ = 0;    // pace time of the anchor, µs
    bool shownAny_ = false;     // lastWall_/lastPace_ are valid
    int64_t lastWall_ = 0;      // when the picture on screen was shown
    int64_t lastPace_ = 0;      // pace time of the picture on screen
};

// When a run's first picture may go on screen. It waits until the decoder is ahead (the queued
// pictures span kLeadUs of stream time, the queue is full, or no more pictures are coming), or
// for kLeadUs at most: the pictures after it then have that much slack when many ports start
// together and share the processors, and a slow or sparse stream starts within kLeadUs.
class StartLead {
public:
    static constexpr int64_t kLeadUs = 300'000;

    // Wall time until which the first picture waits, or 0 when it goes on screen now. `aheadUs`
    // is the stream time the queued pictures span, `full` that the queue is full, `moreComing`
    // that the decoder may still add pictures. The first call starts the wait.
    int64_t waitUntil(int64_t nowUs, int64_t aheadUs, bool full, bool moreComing);

private:
    int64_t sinceUs_ = -1; // when the first picture began to wait
};

} // namespace tarnvox
