// One thread hands pictures to their panes for every port of a clock (see presenter.h).
#include "presenter.h"

#include <pthread.h>

#include <algorithm>

namespace tarnvox {

namespace {

// The presenters alive, one per clock, with the number of stages each serves. Never destroyed,
// so ports closed at exit still find it.
struct Registry {
    struct Entry {
        TvxClock* clock;
        Presenter* presenter;
        int stages;
    };
    std::mutex mu;
    std::vector<Entry> entries;
};

Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

} // namespace

Presenter::Presenter(TvxClock* clock) : clock_(clock), thread_([this] { run(); }) {}

Presenter::~Presenter()
{
    {
        std::lock_guard lock(mu_);
        ending_ = true;
        wake_.notify_all();
    }
    thread_.join();
}

Presenter* Presenter::join(Stage* stage, TvxClock* clock)
{
    Registry& r = registry();
    std::lock_guard lock(r.mu);
    auto entry = std::find_if(r.entries.begin(), r.entries.end(),
                              [&](const Registry::Entry& e) { return e.clock == clock; });
    if (entry == r.entries.end())
        entry = r.entries.insert(r.entries.end(), {clock, new Presenter(clock), 0});
    ++entry->stages;
    Presenter* presenter = entry->presenter;
    std::lock_guard plock(presenter->mu_);
    presenter->stages_.push_back(stage);
    presenter->poked_ = true;
    presenter->wake_.notify_all();
    return presenter;
}

void Presenter::leave(Presenter* presenter, Stage* stage)
{
    {
        std::unique_lock lock(presenter->mu_);
        auto& stages = presenter->stages_;
        stages.erase(std::remove(stages.begin(), stages.end(), stage), stages.end());
        presenter->poked_ = true; // the pass under way may have skipped a stage
        presenter->stepped_.wait(lock, [&] { return presenter->current_ != stage; });
    }
    Presenter* last = nullptr;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mu);
        auto entry = std::find_if(r.entries.begin(), r.entries.end(),
                                  [&](const Registry::Entry& e) { return e.presenter == presenter; });
        if (--entry->stages > 0)
            return;
        r.entries.erase(entry);
        last = presenter;
    }
    delete last; // joins the thread outside the registry's lock (the thread never takes it)
}

void Presenter::poke()
{
    std::lock_guard lock(mu_);
    poked_ = true;
    wake_.notify_all();
}

void Presenter::run()
{
    pthread_setname_np(pthread_self(), "tvx-show");
    std::unique_lock lock(mu_);
    while (!ending_) {
        poked_ = false;
        int64_t next = Stage::kNever;
        // Stages may leave while one is served: find the place again after each step.
        for (size_t i = 0; i < stages_.size(); ++i) {
            Stage* stage = stages_[i];
            current_ = stage;
            lock.unlock();
            int64_t at = stage->step();
            lock.lock();
            current_ = nullptr;
            stepped_.notify_all();
            next = std::min(next, at);
            // A stage that left meanwhile set poked_: the next pass catches what was skipped.
            i = static_cast<size_t>(std::find(stages_.begin(), stages_.end(), stage) -
                                    stages_.begin());
        }
        if (ending_ || poked_ || next == Stage::kNow)
            continue;
        if (next == Stage::kNever)
            wake_.wait(lock);
        else if (next > clock_->nowUs())
            clock_->waitUntil(next, wake_, lock);
    }
}

} // namespace tarnvox
