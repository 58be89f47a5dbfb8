// The thread that hands pictures to their panes at their due times, for every showing port at
// once.
//
// One presenter serves all ports paced by the same clock (in the program that is every port,
// on the steady clock; a test that gives a port a virtual clock gets a presenter of its own for
// it). It asks each of its ports in turn to do what is due now (Stage::step) and sleeps until the
// earliest time any of them named, or until a port says that something changed (poke). So
// however many ports show, one thread sleeps for them, not one per port.
#pragma once

#include <tarnvox/tarnvox.h>

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnvox {

class Presenter {
public:
    // What a presenter serves: a showing port.
    class Stage {
    public:
        static constexpr int64_t kNever = std::numeric_limits<int64_t>::max(); // until poked
        static constexpr int64_t kNow = std::numeric_limits<int64_t>::min();   // at once again

        // Does what is due at the clock's time now (shows at most one picture) and returns when
        // it wants to be asked again: a clock time, kNow or kNever. Called on the presenter's
        // thread with no presenter lock held.
        virtual int64_t step() = 0;

    protected:
        ~Stage() = default;
    };

    // Adds a stage to the presenter of `clock` (made, with its thread, for the first stage of a
    // clock). The presenter it joined; pass it to leave().
    static Presenter* join(Stage* stage, TvxClock* clock);
    // Removes the stage. When it returns, the presenter is not inside the stage's step and
    // never calls it again. The presenter of the clock's last stage ends with its thread. Never
    // called on the presenter's own thread.
    static void leave(Presenter* presenter, Stage* stage);

    // Something changed for one of the stages: ask them all again now.
    void poke();

    Presenter(const Presenter&) = delete;
    Presenter& operator=(const Presenter&) = delete;

private:
    explicit Presenter(TvxClock* clock);
    ~Presenter();
    void run();

    TvxClock* const clock_;
    std::mutex mu_;
    std::condition_variable wake_;     // poked, or a stage left, or ending
    std::condition_variable stepped_;  // a step returned
    std::vector<Stage*> stages_;       // mu_
    Stage* current_ = nullptr;         // mu_; the stage inside step()
    bool poked_ = false;               // mu_; ask every stage again before sleeping
    bool ending_ = false;              // mu_
    std::thread thread_;
};

} // namespace tarnvox
