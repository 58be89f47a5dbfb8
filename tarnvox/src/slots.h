// Decoding turns shared by every port, earliest deadline first.
//
// Each port demuxes on a thread of its own, because libavformat reads a port's input with calls
// that wait until the feeding thread supplies bytes. Decoding, the processor-heavy part, happens
// only while that thread holds one of the engine's decoding slots (one per processor by default),
// so no more decoders run at once than there are processors to run them. When a slot frees, it
// goes to the waiting port whose next picture is due soonest; ports with equal deadlines take
// turns in the order they began to wait. A port's deadline may change while it waits (a pause,
// a speed step): the choice reads it at the moment a slot frees.
//
// A port may keep its slot for a short burst of decodes in a row while no waiting port is
// urgent: one stream's reference pictures then stay in the processor's caches instead of being
// pushed out by every other stream's between two of its pictures.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarnvox {

// Now on the steady clock in microseconds: the time deadlines are given in.
int64_t steadyNowUs();

class DecodeSlots {
public:
    // A port's place in the line for a slot. One per port; waits for one slot at a time.
    class Ticket {
    public:
        // When the port's next picture is due, in microseconds on the steady clock.
        void setDeadline(int64_t us) { deadlineUs_.store(us, std::memory_order_relaxed); }
        int64_t deadline() const { return deadlineUs_.load(std::memory_order_relaxed); }

    private:
        friend class DecodeSlots;
        std::atomic<int64_t> deadlineUs_{0};
        std::condition_variable granted_;  // signalled when this ticket gets a slot
        bool holds_ = false;               // DecodeSlots::mu_; granted, not yet released
        int burst_ = 0;                    // DecodeSlots::mu_; decodes in a row on this grant
        uint64_t arrival_ = 0;             // DecodeSlots::mu_; order of arrival in the line
    };

    // `count` slots; 0 (or less) means one per processor. A ticket holding a slot keeps it for
    // up to `burst` decodes in a row (pass() returns at once) while no waiting ticket's deadline
    // is within `urgentUs` of now on the steady clock; burst 1 hands the slot on at every pass().
    explicit DecodeSlots(int count = 0, int burst = 1, int64_t urgentUs = 0);
    DecodeSlots(const DecodeSlots&) = delete;
    DecodeSlots& operator=(const DecodeSlots&) = delete;

    // The slots every port of the engine shares (made on first use, never destroyed): one per
    // processor, bursts of kSharedBurst decodes while no other port is due within kSharedUrgentUs.
    static DecodeSlots& shared();
    static constexpr int kSharedBurst = 4;
    static constexpr int64_t kSharedUrgentUs = 80'000;

    // Waits until `ticket` is granted a slot. true: the caller holds a slot and must release()
    // it. false: `stop` turned true (seen after interrupt()) before a slot was granted.
    bool acquire(Ticket& ticket, const std::atomic<bool>& stop);
    // Gives back the slot `ticket` holds; the next one goes to the earliest deadline waiting.
    void release(Ticket& ticket);
    // Between two decodes: `ticket` keeps the slot it holds when its burst is not used up and no
    // waiting ticket is urgent (see the constructor); otherwise the slot goes to the waiting
    // ticket with the earliest deadline, `ticket` itself (with its new deadline) included, and
    // when another one gets it, waits for a slot again. Results as acquire(). Without a slot
    // held, as acquire().
    bool pass(Ticket& ticket, const std::atomic<bool>& stop);
    // Wakes every waiting ticket to look at its stop flag again (call after setting one).
    void interrupt();

    // Changes the number of slots (0 or less: one per processor). Slots held stay held; fewer
    // slots take effect as they are released.
    void resize(int count);
    int size() const;
    // Tickets waiting now, and slots free now (for tests and benches).
    int waiting() const;
    int freeSlots() const;

private:
    void grantLocked();
    // Whether a waiting ticket's deadline is within urgentUs_ of now.
    bool urgentWaitingLocked() const;
    // Puts the ticket in the line and waits for its slot (mu_ held by `lock`).
    bool waitLocked(Ticket& ticket, const std::atomic<bool>& stop, std::unique_lock<std::mutex>& lock);

    mutable std::mutex mu_;
    std::vector<Ticket*> line_;   // waiting tickets, in no particular order
    int total_ = 1;               // slots
    int free_ = 1;                // slots not held (negative while shrinking)
    uint64_t arrivals_ = 0;       // tickets that have begun to wait so far
    const int burst_;             // decodes a holder may make in a row
    const int64_t urgentUs_;      // a waiting deadline this close to now ends a burst
};

// The slot a port's decoding thread holds, if any: take() before each decode (keeps the slot
// when the port is still the most urgent, else waits for its turn), drop() before the thread
// waits for anything else (input, room in the queue) and when it ends.
class SlotHold {
public:
    SlotHold(DecodeSlots& pool, DecodeSlots::Ticket& ticket, const std::atomic<bool>& stop)
        : slots_(pool), ticket_(ticket), stop_(stop)
    {
    }
    ~SlotHold() { drop(); }
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;

    // A slot for the next decode (see DecodeSlots::pass). false when the port stops first.
    bool take()
    {
        held_ = slots_.pass(ticket_, stop_);
        return held_;
    }
    void drop()
    {
        if (held_)
            slots_.release(ticket_);
        held_ = false;
    }
    bool held() const { return held_; }

private:
    DecodeSlots& slots_;
    DecodeSlots::Ticket& ticket_;
    const std::atomic<bool>& stop_;
    bool held_ = false;
};

} // namespace tarnvox
