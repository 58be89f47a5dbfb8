// The history budget: shared out by the number of showing ports, and never exceeded by a port.
#include "budget.h"
#include "support.h"

#include <algorithm>
#include <atomic>

using namespace tvxtest;
using tarnvox::historyBudget;

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kD1Picture = 704 * 576 * 3 / 2; // a 4:2:0 picture of the recorders' usual size

TEST(HistoryBudget, SharesOneBudgetOutByTheShowingPorts)
{
    struct Row {
        int ports;
        size_t bytes;
    };
    for (Row r : {Row{0, 8 * kMiB}, Row{1, 8 * kMiB}, Row{4, 8 * kMiB}, Row{6, 8 * kMiB},
                  Row{9, 48 * kMiB / 9}, Row{16, 3 * kMiB}, Row{25, 48 * kMiB / 25},
                  Row{36, 48 * kMiB / 36}, Row{64, 48 * kMiB / 64}}) {
        EXPECT_EQ(historyBudget(r.ports).bytes, r.bytes) << r.ports << " ports";
        EXPECT_EQ(historyBudget(r.ports).pictures, 25u) << r.ports << " ports";
    }
    // 36 windows of the usual size still keep the picture before the one on screen.
    EXPECT_GE(historyBudget(36).bytes / kD1Picture, 2u);
}

// Plays the raw H.264 stream on port 0 while `idle` other ports show nothing, and returns the
// most pictures and bytes port 0 kept for stepping back at any picture.
TvxMemory mostKept(int idle)
{
    for (int i = 1; i <= idle; ++i)
        EXPECT_TRUE(start(i, nullptr));
    TvxMemory most;
    TvxPortOptions options = unlimited();
    options.onVideoFrame = [&](const TvxVideoFrame&) {
        TvxMemory now;
        tvx_memory(0, &now);
        most.historyPictures = std::max(most.historyPictures, now.historyPictures);
        most.historyBytes = std::max(most.historyBytes, now.historyBytes);
        most.budgetBytes = now.budgetBytes;
    };
    EXPECT_TRUE(start(0, nullptr, options));
    EXPECT_TRUE(feed(0, readAll(streams().h264)) && tvx_end_of_input(0) &&
                tvx_wait_shown(0, 30000));
    for (int i = 0; i <= idle; ++i)
        TvxCloseStream(i);
    tvx_set_port_options(0, TvxPortOptions());
    return most;
}

TEST(HistoryBudget, APortNeverKeepsMoreThanItsShare)
{
    TVX_NEED_STREAMS();
    const size_t picture = 352 * 288 * 3 / 2;
    // Alone: the count binds (25 small pictures are well within 8 MiB).
    TvxMemory alone = mostKept(0);
    EXPECT_EQ(alone.historyPictures, 25u);
    // One of 36 showing ports: the bytes bind.
    TvxMemory crowded = mostKept(35);
    EXPECT_EQ(crowded.budgetBytes, historyBudget(36).bytes);
    EXPECT_LE(crowded.historyBytes, crowded.budgetBytes);
    EXPECT_EQ(crowded.historyPictures, historyBudget(36).bytes / picture);
}

} // namespace
