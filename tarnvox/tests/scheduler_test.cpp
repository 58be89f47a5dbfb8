// The engine's scheduling: decoding slots granted earliest deadline first (a fake decoder and a
// fake clock: ports that record their turn, advance the clock by their cost and ask again), and
// the one presenter that wakes at the next due time across all its ports.
#include "port.h"
#include "presenter.h"
#include "slots.h"

#include "support.h"

#include <deque>
#include <thread>

using tarnvox::DecodeSlots;
using tarnvox::Presenter;

namespace {

// A port as the slots see it. Its pictures are due every `intervalMs` from `firstDueMs`; each
// decode costs `costMs` on the fake clock. An idle port (paused) has no picture due and asks
// with the deadline the engine gives such ports: the clock's time then plus one second.
struct FakePort {
    char name;
    int64_t firstDueMs;
    int64_t intervalMs;
    int64_t costMs;
    bool idle = false;
};

constexpr int64_t kIdleMs = tarnvox::Port::kIdleDeadlineUs / 1000;

// Runs the ports against one slot until `turns` decodes were done; the names in turn order.
// Before the slot passes on, every other port is made to wait for it, so the order depends on
// the deadlines alone, never on thread timing.
std::string workOrder(const std::vector<FakePort>& ports, size_t turns)
{
    DecodeSlots pool(1);
    std::atomic<bool> stop{false};
    std::mutex mu;
    int64_t now = 0;   // the fake clock, ms
    std::string order; // mu
    std::deque<DecodeSlots::Ticket> tickets(ports.size());
    DecodeSlots::Ticket gate; // holds the slot until every port waits
    EXPECT_TRUE(pool.acquire(gate, stop));
    const int others = static_cast<int>(ports.size()) - 1;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([&, i] {
            const FakePort& p = ports[i];
            DecodeSlots::Ticket& ticket = tickets[i];
            int64_t due = p.firstDueMs;
            for (bool holding = false;; holding = true) {
                // Between two decodes: the slot goes on once every other port waits for it.
                while (holding && !stop && pool.waiting() < others)
                    std::this_thread::yield();
                {
                    std::lock_guard lock(mu);
                    ticket.setDeadline(p.idle ? now + kIdleMs : due);
                }
                if (!pool.pass(ticket, stop))
                    return;
                bool last;
                {
                    std::unique_lock lock(mu);
                    if (order.size() >= turns) { // granted as the last turn ended
                        lock.unlock();
                        pool.release(ticket);
                        return;
                    }
                    order += p.name; // the fake decoder
                    now += p.costMs;
                    due += p.intervalMs;
                    last = order.size() == turns;
                }
                if (last) {
                    stop = true;
                    pool.interrupt();
                    pool.release(ticket);
                    return;
                }
            }
        });
    while (pool.waiting() < static_cast<int>(ports.size()))
        std::this_thread::yield();
    pool.release(gate);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(pool.freeSlots(), 1);
    return order;
}

struct OrderCase {
    const char* name;
    std::vector<FakePort> ports;
    std::string order; // expected turns
};

void PrintTo(const OrderCase& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(DecodeOrder, FollowsTheDeadlines)
{
    const OrderCase& c = GetParam();
    EXPECT_EQ(workOrder(c.ports, c.order.size()), c.order);
}

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeOrder,
    ::testing::Values(
        // Equal rates: the port due first goes first, then they take turns by deadline.
        OrderCase{"equal_rates", {{'A', 0, 40, 10}, {'B', 20, 40, 10}, {'C', 5, 40, 10}},
                  "ACBACBACB"},
        // A port with twice the frame rate gets twice the turns, each when its picture is due.
        OrderCase{"double_rate", {{'A', 0, 20, 5}, {'B', 10, 40, 5}}, "ABAABAABAAB"},
        // More work than the slot can do (5 × 10 ms per 40 ms): every port falls behind alike
        // and they take turns; none is left out.
        OrderCase{"overload_takes_turns",
                  {{'A', 0, 40, 10}, {'B', 1, 40, 10}, {'C', 2, 40, 10}, {'D', 3, 40, 10},
                   {'E', 4, 40, 10}},
                  repeat("ABCDE", 4)},
        // Two ports behind all the time (30 ms per 40 ms each) and a paused one filling its
        // queue: the paused port waits a second (its deadline 1,000), then gets its turn ahead
        // of A's picture due at the same time, since it has waited longer.
        OrderCase{"paused_port_is_not_starved",
                  {{'A', 0, 40, 30}, {'B', 10, 40, 30}, {'P', 0, 0, 30, true}},
                  repeat("AB", 25) + "PAB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeSlots, AWaitingPortThatStopsGivesUpItsPlace)
{
    DecodeSlots pool(1);
    std::atomic<bool> never{false}, stop{false};
    DecodeSlots::Ticket holder, waiter;
    ASSERT_TRUE(pool.acquire(holder, never));
    std::atomic<int> result{-1};
    std::thread t([&] { result = pool.acquire(waiter, stop) ? 1 : 0; });
    ASSERT_TRUE(tvxtest::eventually([&] { return pool.waiting() == 1; }));
    stop = true;
    pool.interrupt();
    t.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(pool.waiting(), 0);
    pool.release(holder);
    EXPECT_EQ(pool.freeSlots(), 1);
    EXPECT_FALSE(pool.acquire(waiter, stop)); // a stopped port does not line up again
}

TEST(DecodeSlots, MoreSlotsLetWaitingPortsDecodeAtOnce)
{
    DecodeSlots pool(1);
    std::atomic<bool> never{false};
    DecodeSlots::Ticket a, b;
    ASSERT_TRUE(pool.acquire(a, never));
    std::atomic<bool> bHolds{false};
    std::thread t([&] { bHolds = pool.acquire(b, never); });
    ASSERT_TRUE(tvxtest::eventually([&] { return pool.waiting() == 1; }));
    pool.resize(2);
    t.join();
    EXPECT_TRUE(bHolds);
    // Fewer slots take effect as they are released.
    pool.resize(1);
    EXPECT_EQ(pool.freeSlots(), -1);
    pool.release(a);
    pool.release(b);
    EXPECT_EQ(pool.freeSlots(), 1);
    EXPECT_EQ(DecodeSlots(0).size(), static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}

// A port holding a slot keeps it for a burst of decodes while no waiting port is urgent; the
// burst ends when it is used up, or at once when a waiting port's picture is due soon.
TEST(DecodeSlots, ABurstEndsWhenUsedUpOrWhenAWaitingPortIsUrgent)
{
    struct Case {
        int burst;
        bool waiterTurnsUrgent; // after the holder's first pass
        int passesKept;         // passes that return at once before the slot goes on
    };
    for (const Case c : {Case{3, false, 2}, Case{3, true, 0}, Case{1, false, 0}}) {
        SCOPED_TRACE(testing::Message() << "burst " << c.burst << (c.waiterTurnsUrgent ? " urgent" : ""));
        DecodeSlots pool(1, c.burst, 80'000);
        std::atomic<bool> never{false};
        DecodeSlots::Ticket holder, waiter;
        const int64_t now = tarnvox::steadyNowUs();
        holder.setDeadline(now + 2'000'000);
        waiter.setDeadline(now + 1'000'000); // due later than the urgency margin
        ASSERT_TRUE(pool.acquire(holder, never));
        std::atomic<bool> waiterHolds{false};
        std::thread w([&] { waiterHolds = pool.acquire(waiter, never); });
        ASSERT_TRUE(tvxtest::eventually([&] { return pool.waiting() == 1; }));
        if (c.waiterTurnsUrgent)
            waiter.setDeadline(tarnvox::steadyNowUs());
        for (int i = 0; i < c.passesKept; ++i)
            EXPECT_TRUE(pool.pass(holder, never));
        EXPECT_FALSE(waiterHolds);
        // The next pass hands the slot to the earlier deadline and waits for it to come back.
        std::atomic<bool> holderBack{false};
        std::thread h([&] { holderBack = pool.pass(holder, never); });
        w.join();
        EXPECT_TRUE(waiterHolds);
        pool.release(waiter);
        h.join();
        EXPECT_TRUE(holderBack);
        pool.release(holder);
        EXPECT_EQ(pool.freeSlots(), 1);
    }
}

// ---- the presenter ----

// A stage that shows pictures at given clock times and notes when it showed them.
class TimedStage : public Presenter::Stage {
public:
    TimedStage(char name, std::vector<int64_t> dues, tvxtest::VirtualClock& clock,
               std::string& log, std::mutex& mu)
        : name_(name), dues_(std::move(dues)), clock_(clock), log_(log), mu_(mu)
    {
    }
    int64_t step() override
    {
        std::lock_guard lock(mu_);
        if (!armed_ || next_ == dues_.size())
            return kNever;
        int64_t now = clock_.nowUs();
        if (dues_[next_] > now)
            return dues_[next_];
        log_ += name_ + std::to_string(now) + " ";
        ++next_;
        return kNow;
    }
    bool done()
    {
        std::lock_guard lock(mu_);
        return next_ == dues_.size();
    }
    // Until armed the stage has nothing to show.
    void arm()
    {
        std::lock_guard lock(mu_);
        armed_ = true;
    }

private:
    char name_;
    std::vector<int64_t> dues_;
    tvxtest::VirtualClock& clock_;
    std::string& log_;
    std::mutex& mu_;
    size_t next_ = 0;
    bool armed_ = false;
};

TEST(Presenter, OneThreadShowsEveryStageAtItsDueTimes)
{
    // The clock moves only when the presenter sleeps: each sleep must end at the earliest due
    // time across both stages.
    tvxtest::VirtualClock clock; // starts at 1,000,000
    std::mutex mu;
    std::string log;
    TimedStage x('x', {1'000'100, 1'000'300, 1'000'500}, clock, log, mu);
    TimedStage y('y', {1'000'200, 1'000'250}, clock, log, mu);
    Presenter* p = Presenter::join(&x, &clock);
    EXPECT_EQ(Presenter::join(&y, &clock), p); // one presenter per clock
    x.arm();
    y.arm();
    p->poke();
    ASSERT_TRUE(tvxtest::eventually([&] { return x.done() && y.done(); }));
    Presenter::leave(p, &x);
    Presenter::leave(p, &y);
    EXPECT_EQ(log, "x1000100 y1000200 y1000250 x1000300 x1000500 ");
}

TEST(Presenter, LeaveWaitsForTheStepInProgressAndEndsTheTurns)
{
    struct BlockingStage : Presenter::Stage {
        std::atomic<int> steps{0};
        std::atomic<bool> inside{false}, open{false};
        int64_t step() override
        {
            ++steps;
            inside = true;
            while (!open)
                std::this_thread::yield();
            inside = false;
            return kNever;
        }
    } stage;
    tvxtest::VirtualClock clock;
    Presenter* p = Presenter::join(&stage, &clock);
    ASSERT_TRUE(tvxtest::eventually([&] { return stage.inside.load(); }));
    std::atomic<bool> left{false};
    std::thread leaver([&] {
        Presenter::leave(p, &stage);
        left = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(left); // still inside the step
    stage.open = true;
    leaver.join();
    EXPECT_FALSE(stage.inside);
    int steps = stage.steps;
    // A new presenter for the same clock starts with no stage from before.
    std::mutex mu;
    std::string log;
    TimedStage other('o', {1'000'010}, clock, log, mu);
    other.arm();
    Presenter* q = Presenter::join(&other, &clock);
    ASSERT_TRUE(tvxtest::eventually([&] { return other.done(); }));
    Presenter::leave(q, &other);
    EXPECT_EQ(stage.steps, steps);
}

} // namespace
