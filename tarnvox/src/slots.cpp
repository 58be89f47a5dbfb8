// Decoding turns shared by every port, earliest deadline first (see slots.h).
#include "slots.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tarnvox {

namespace {

int processorsOr(int count)
{
    if (count > 0)
        return count;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

} // namespace

int64_t steadyNowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

DecodeSlots::DecodeSlots(int count, int burst, int64_t urgentUs)
    : total_(processorsOr(count)), free_(total_), burst_(std::max(1, burst)), urgentUs_(urgentUs)
{
}

DecodeSlots& DecodeSlots::shared()
{
    static DecodeSlots* pool = new DecodeSlots(0, kSharedBurst, kSharedUrgentUs); // outlives every port
    return *pool;
}

void DecodeSlots::grantLocked()
{
    while (free_ > 0 && !line_.empty()) {
        auto first = std::min_element(line_.begin(), line_.end(), [](Ticket* a, Ticket* b) {
            int64_t da = a->deadline(), db = b->deadline();
            return da != db ? da < db : a->arrival_ < b->arrival_;
        });
        Ticket* t = *first;
        line_.erase(first);
        t->holds_ = true;
        t->burst_ = 1;
        --free_;
        t->granted_.notify_one();
    }
}

bool DecodeSlots::urgentWaitingLocked() const
{
    const int64_t soon = steadyNowUs() + urgentUs_;
    return std::any_of(line_.begin(), line_.end(), [&](const Ticket* t) { return t->deadline() <= soon; });
}

bool DecodeSlots::acquire(Ticket& ticket, const std::atomic<bool>& stop)
{
    std::unique_lock lock(mu_);
    return waitLocked(ticket, stop, lock);
}

bool DecodeSlots::pass(Ticket& ticket, const std::atomic<bool>& stop)
{
    std::unique_lock lock(mu_);
    if (ticket.holds_ && !stop && free_ >= 0 && ticket.burst_ < burst_ && !urgentWaitingLocked()) {
        ++ticket.burst_;
        return true;
    }
    if (ticket.holds_) {
        ticket.holds_ = false;
        ++free_;
    }
    return waitLocked(ticket, stop, lock);
}

bool DecodeSlots::waitLocked(Ticket& ticket, const std::atomic<bool>& stop,
                             std::unique_lock<std::mutex>& lock)
{
    if (stop) {
        grantLocked(); // a slot given up by pass() goes on
        return false;
    }
    ticket.arrival_ = arrivals_++;
    line_.push_back(&ticket);
    grantLocked();
    ticket.granted_.wait(lock, [&] { return ticket.holds_ || stop; });
    if (ticket.holds_)
        return true;
    line_.erase(std::find(line_.begin(), line_.end(), &ticket));
    return false;
}

void DecodeSlots::release(Ticket& ticket)
{
    std::lock_guard lock(mu_);
    if (!ticket.holds_)
        return;
    ticket.holds_ = false;
    ++free_;
    grantLocked();
}

void DecodeSlots::interrupt()
{
    std::lock_guard lock(mu_);
    for (Ticket* t : line_)
        t->granted_.notify_one();
}

void DecodeSlots::resize(int count)
{
    std::lock_guard lock(mu_);
    int total = processorsOr(count);
    free_ += total - total_;
    total_ = total;
    grantLocked();
}

int DecodeSlots::size() const
{
    std::lock_guard lock(mu_);
    return total_;
}

int DecodeSlots::waiting() const
{
    std::lock_guard lock(mu_);
    return static_cast<int>(line_.size());
}

int DecodeSlots::freeSlots() const
{
    std::lock_guard lock(mu_);
    return free_;
}

} // namespace tarnvox
