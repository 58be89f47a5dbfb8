// Stream times and pacing arithmetic.
#include "timing.h"

#include <gtest/gtest.h>

#include <vector>

using tarnvox::Pacer;
using tarnvox::StartLead;
using tarnvox::StreamTime;
using tarnvox::Timeline;

namespace {

struct TimelineCase {
    const char* name;
    std::vector<int64_t> stamps;     // µs, duration 40,000 each
    std::vector<int64_t> positions;  // expected
    std::vector<int64_t> paces;      // expected
};

void PrintTo(const TimelineCase& c, std::ostream* os)
{
    *os << c.name;
}

class Timelines : public ::testing::TestWithParam<TimelineCase> {};

TEST_P(Timelines, TurnStampsIntoContinuousTimes)
{
    Timeline t;
    const TimelineCase& c = GetParam();
    for (size_t i = 0; i < c.stamps.size(); ++i) {
        StreamTime st = t.next(c.stamps[i], 40'000);
        EXPECT_EQ(st.positionUs, c.positions[i]) << i;
        EXPECT_EQ(st.paceUs, c.paces[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Timelines,
    ::testing::Values(
        TimelineCase{"regular", {500, 40'500, 80'500}, {0, 40'000, 80'000}, {0, 40'000, 80'000}},
        TimelineCase{"backward_jump", {9'000'000, 9'040'000, 100, 40'100},
                     {0, 40'000, 80'000, 120'000}, {0, 40'000, 80'000, 120'000}},
        TimelineCase{"repeated_stamp", {0, 0, 40'000}, {0, 40'000, 80'000}, {0, 40'000, 80'000}},
        TimelineCase{"gap_of_ten_seconds", {0, 10'000'000, 10'040'000},
                     {0, 10'000'000, 10'040'000}, {0, 40'000, 80'000}},
        TimelineCase{"gap_over_an_hour", {0, 4'000'000'000}, {0, 40'000}, {0, 40'000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Pacer, SpacesPicturesByTheLevel)
{
    for (int level = Pacer::kMinLevel; level <= Pacer::kMaxLevel; ++level) {
        Pacer p;
        p.setLevel(level);
        EXPECT_EQ(p.due(0, 1000), 1000); // first picture: now
        p.shown(0, 1000);
        int64_t expected = level >= 0 ? 40'000 >> level : 40'000 << -level;
        EXPECT_EQ(p.due(40'000, 1000), 1000 + expected) << level;
    }
}

TEST(Pacer, LevelIsClamped)
{
    Pacer p;
    p.setLevel(9);
    EXPECT_EQ(p.level(), Pacer::kMaxLevel);
    p.setLevel(-9);
    EXPECT_EQ(p.level(), Pacer::kMinLevel);
}

TEST(Pacer, LevelChangeCountsFromThePictureOnScreen)
{
    Pacer p;
    p.due(0, 0);
    p.shown(0, 0);
    p.shown(400'000, 400'000); // picture 10 on screen at its time
    p.setLevel(1);
    EXPECT_EQ(p.due(440'000, 410'000), 420'000);
}

TEST(Pacer, StallRestartsTheClockInsteadOfRacing)
{
    Pacer p;
    p.due(0, 0);
    p.shown(0, 0);
    // The next picture arrives two seconds late: it is shown now, and the ones after it keep
    // their distance from it.
    EXPECT_EQ(p.due(40'000, 2'000'000), 2'000'000);
    p.shown(40'000, 2'000'000);
    EXPECT_EQ(p.due(80'000, 2'000'000), 2'040'000);
    // A picture only a little late is shown at once without moving the clock.
    EXPECT_EQ(p.due(120'000, 2'100'000), 2'080'000);
}

TEST(Pacer, RestartKeepsTheDistanceFromThePictureOnScreen)
{
    Pacer p;
    p.due(0, 0);
    p.shown(0, 0);
    p.shown(40'000, 40'000);
    p.restart(5'000'000); // paused for a while
    EXPECT_EQ(p.due(80'000, 5'000'000), 5'040'000);
}

TEST(StartLead, FirstPictureWaitsUntilTheDecoderIsAheadOrTheLeadIsUp)
{
    constexpr int64_t L = StartLead::kLeadUs;
    struct Step {
        int64_t now, aheadUs;
        bool full, moreComing;
        int64_t until; // 0: on screen now
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"ahead_by_stream_time", {{1000, L, false, true, 0}}},
        {"queue_full", {{1000, 40'000, true, true, 0}}},
        {"nothing_more_coming", {{1000, 0, false, false, 0}}},
        {"waits_from_its_first_look", {{1000, 0, false, true, 1000 + L},
                                       {1000 + L / 2, 80'000, false, true, 1000 + L},
                                       {1000 + L, 120'000, false, true, 0}}},
        {"decoder_catches_up", {{1000, 0, false, true, 1000 + L}, {5000, L + 1, false, true, 0}}},
    };
    for (const Case& c : cases) {
        StartLead lead;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            EXPECT_EQ(lead.waitUntil(s.now, s.aheadUs, s.full, s.moreComing), s.until)
                << c.name << ", step " << i;
        }
    }
}

} // namespace
