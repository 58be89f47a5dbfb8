// How many decoded pictures a port may keep for stepping back, by the number of ports showing.
//
// Every showing port keeps the pictures it has shown last (its history) so that a step back is
// shown at once. The engine gives all showing ports together one byte budget for these, shared
// out evenly, so one window keeps a long history and 36 windows a short one each: the memory of
// the engine grows by the decoder's own pictures and the queue per window, not by a fixed history
// per window. A port always keeps the picture on screen (and the pictures after it that a step
// back made) whatever the budget; going back further decodes again (see the stepping back in
// README.md).
#pragma once

#include <cstddef>

namespace tarnvox {

struct PictureBudget {
    size_t pictures = 0; // pictures kept at most
    size_t bytes = 0;    // planes of those pictures at most
};

// All showing ports together keep at most this many bytes of history.
inline constexpr size_t kHistoryTotalBytes = 48u * 1024 * 1024;
// One port keeps at most this much, however few ports show.
inline constexpr PictureBudget kHistoryMost{25, 8u * 1024 * 1024};

// The history budget of each port while `ports` ports show (fewer than 1 counts as 1):
// kHistoryTotalBytes shared evenly, at most kHistoryMost.
PictureBudget historyBudget(int ports);

// The ports showing now, process-wide (their count shares out the budget).
class ShowingPorts {
public:
    static void add();
    static void remove();
    static int count();
};

} // namespace tarnvox
