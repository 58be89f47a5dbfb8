// Positioning a port at a time: "decode from a key picture up to a target picture".
//
// A port that reads its recording by itself (TvxSetSource) can be positioned anywhere in it.
// Positioning is one operation, whatever asks for it (a seek to a time, a step back over the
// pictures kept): choose the key picture at or before the target from the key index, move the
// demuxer to that key's bytes, decode with clean decoders, and pass over every picture until
// the target picture comes out. These are the pure parts of it; the port carries it out on its
// decoding thread (port_seek.cpp).
#pragma once

#include "timing.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tarnvox {

// Which picture a positioning shows. Times are stream positions (StreamTime::positionUs): µs from
// the recording's first picture, gaps counted up to an hour.
struct SeekTarget {
    enum class Kind {
        AtOrAfter, // the first picture whose time is ≥ us (a seek to a time)
        Before,    // the last picture whose time is < us (a step back from the picture at us)
    };
    int64_t us = 0;
    Kind kind = Kind::AtOrAfter;
};

// A key picture of the stream: where its packet starts and the time the picture stands at.
struct KeyEntry {
    int64_t offset = 0;     // byte offset of the key picture's packet in the recording
    int64_t stampUs = 0;    // its time stamp in µs (the stream's own origin)
    int64_t positionUs = 0; // its stream position
};

// The key pictures of a recording in byte order, noted as the demuxer reads packets (while
// playing, and while reading on to a seek target that lies beyond what was read). Positions
// are made from the key pictures' stamps by the same rules as the pictures' own (Timeline).
class KeyIndex {
public:
    // Forgets every key (a new recording).
    void clear();
    // Notes the key picture whose packet starts at byte `offset` with time stamp stampUs and
    // lasting durationUs. Only a key beyond the last one noted is taken: after a seek back the
    // keys read again are known already.
    void note(int64_t offset, int64_t stampUs, int64_t durationUs);
    // The demuxer reached the end of the recording: every key is noted.
    void markComplete() { complete_ = true; }
    bool complete() const { return complete_; }
    // Whether the demuxer must read on before keyFor(target) is final: the index is not complete
    // and no key at or after the target (for Before: no key ≥ target) is known yet.
    bool needsMore(SeekTarget target) const;
    // The key to decode from for `target`: the last key at or before it (for Before: strictly
    // before it), or the first key when the target lies before every key. None when no key is
    // known.
    std::optional<KeyEntry> keyFor(SeekTarget target) const;
    // Byte offset just after the last key noted (0 when none): keys before it are known.
    int64_t frontier() const { return keys_.empty() ? 0 : keys_.back().offset + 1; }
    size_t size() const { return keys_.size(); }

private:
    std::vector<KeyEntry> keys_; // ascending offsets, ascending positions
    Timeline timeline_;         // positions of the keys
    bool complete_ = false;
};

// Passes over the decoded pictures of a positioning until its target picture comes out.
class TargetFilter {
public:
    enum class Verdict {
        Keep,     // not there yet: keep this picture in case nothing later qualifies
        Show,     // show this picture (the positioning is done)
        ShowKept, // show the picture kept last, then this one (the positioning is done)
    };

    // Starts passing over pictures up to `target`.
    void start(SeekTarget target);
    // Whether a positioning is under way.
    bool active() const { return active_; }
    // What to do with the next decoded picture, at stream position positionUs. `haveKept` says
    // whether a picture is kept from before (ShowKept is given only then).
    Verdict offer(int64_t positionUs, bool haveKept);
    // The input ended during the positioning: it ends; the picture kept last (the last one
    // decoded, nearest to a target past the end) is what the caller shows.
    void finish() { active_ = false; }

private:
    SeekTarget target_;
    bool active_ = false;
};

} // namespace tarnvox
