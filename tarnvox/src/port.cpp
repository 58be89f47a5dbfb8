// One port of the engine: its state machine and the calls that drive it (see port.h for the
// states, threads and locks; port_decode.cpp holds the decoding thread, port_show.cpp the
// port's turn at the presenter).
#include "port.h"

#include "budget.h"
#include "log.h"
#include "picture.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <utility>
#include <cstdio>

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tarnvox {

namespace {

class SteadyClock final : public TvxClock {
public:
    int64_t nowUs() override { return steadyNowUs(); }
    void waitUntil(int64_t deadlineUs, std::condition_variable& wake,
                   std::unique_lock<std::mutex>& lock) override
    {
        using namespace std::chrono;
        wake.wait_until(lock, steady_clock::time_point(microseconds(deadlineUs)));
    }
};

SteadyClock& steadyClock()
{
    static SteadyClock clock;
    return clock;
}

} // namespace

void nameThread(const char* role, int port)
{
    char name[16];
    std::snprintf(name, sizeof name, "tvx-%s-%02d", role, port);
    pthread_setname_np(pthread_self(), name);
}

void lowerThreadPriority(int steps)
{
    // On Linux a thread id names one thread for setpriority; raising one's own nice value needs
    // no privilege. A failure only leaves the priority as it was.
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        setpriority(PRIO_PROCESS, self, std::min(nice + steps, 19));
}

// The rules of a port's state, checked in debug builds after every change.
#ifndef NDEBUG
#define TVX_RULE(cond)                                                                           \
    do {                                                                                         \
        if (!(cond))                                                                             \
            qFatal("tarnvox port %d: broken rule: %s", index_, #cond);                           \
    } while (0)
#else
#define TVX_RULE(cond)                                                                           \
    do {                                                                                         \
        (void)sizeof(cond);                                                                      \
    } while (0)
#endif

void FrameFree::operator()(AVFrame* frame) const
{
    av_frame_free(&frame);
}

namespace {
thread_local const Port* t_threadPort = nullptr; // the port whose thread this is, if any
} // namespace

void markThreadOf(const Port* port)
{
    t_threadPort = port;
}

bool Port::onOwnThread() const
{
    return t_threadPort == this;
}

Port::Port(int index)
    : index_(index), clock_(&steadyClock()), showConverter_(std::make_unique<PictureConverter>())
{
}

Port::~Port()
{
    closeStream();
}

int64_t Port::steadyUs() const
{
    return steadyClock().nowUs();
}

// ---- state machine ---------------------------------------------------------------------------

void Port::setStateLocked(PortState to)
{
    bool allowed = (state_ == PortState::Free && to == PortState::Open) ||
                   (state_ == PortState::Open && to == PortState::Showing) ||
                   (state_ == PortState::Showing && to == PortState::Open) ||
                   (state_ == PortState::Open && to == PortState::Free);
    TVX_RULE(allowed);
    state_ = to;
}

void Port::checkLocked() const
{
    // 1. A free port holds nothing; an open or showing port has its ring.
    TVX_RULE((state_ == PortState::Free) == !ring_.allocated());
    TVX_RULE(state_ != PortState::Free || (history_.empty() && !recorder_.running()));
    // 2. The decoding thread runs and the presenter serves the port exactly while showing (the
    //    presenter is let go first when the port stops).
    TVX_RULE((state_ == PortState::Showing) == threadsRunning_);
    TVX_RULE(state_ == PortState::Showing ? (presenter_ != nullptr || stopping_)
                                          : presenter_ == nullptr);
    // 3. Without threads nothing is in flight, queued or in a show mode other than normal.
    TVX_RULE(state_ == PortState::Showing ||
             (queue_.empty() && sounds_.empty() && presenting_ == 0 && inFlight_ == 0 &&
              mode_ == ShowMode::Normal && steps_ == 0 && cursor_ == 0));
    // 4. Bounds.
    TVX_RULE(ring_.size() <= ring_.capacity());
    TVX_RULE(queue_.size() <= kQueueDepth);
    TVX_RULE(presenting_ == 0 || presenting_ == 1);
    TVX_RULE(pacer_.level() >= Pacer::kMinLevel && pacer_.level() <= Pacer::kMaxLevel);
    // 5. The picture on screen is in the history; steps are asked for only in single-frame mode.
    TVX_RULE(history_.empty() ? cursor_ == 0 : cursor_ < history_.size());
    TVX_RULE(steps_ >= 0 && steps_ <= kMaxPendingSteps);
    TVX_RULE(mode_ == ShowMode::Step || steps_ == 0);
}

PortState Port::state() const
{
    std::lock_guard lock(mu_);
    return state_;
}

void Port::addMemory(TvxMemory& out) const
{
    std::lock_guard lock(mu_);
    out.ringBytes += ring_.allocated() ? ring_.capacity() : 0;
    out.queuePictures += queue_.size();
    for (const Picture& p : queue_)
        out.queueImageBytes += static_cast<size_t>(p.image.sizeInBytes());
    out.historyPictures += history_.size();
    out.historyBytes += historyBytes_;
}

unsigned Port::bufferedLocked() const
{
    if (state_ == PortState::Free)
        return 0;
    // A source counts the bytes not read yet (and one while a positioning is under way).
    uint64_t input = ring_.size();
    if (source_ && busy_)
        input = static_cast<uint64_t>(std::max<int64_t>(source_->size - sourcePos_, 0)) + 1;
    uint64_t total = input + inFlight_ + queue_.size() + static_cast<uint64_t>(presenting_);
    return static_cast<unsigned>(std::min<uint64_t>(total, UINT_MAX));
}

const Picture* Port::onScreenLocked() const
{
    return history_.empty() ? nullptr : &history_[history_.size() - 1 - cursor_];
}

// ---- control calls ---------------------------------------------------------------------------

int Port::openStream(size_t bufferSize)
{
    routeFfmpegLog();
    std::lock_guard cmd(cmdMu_);
    std::lock_guard lock(mu_);
    if (state_ != PortState::Free)
        return 0;
    size_t size = bufferSize == 0 ? kDefaultRing : std::clamp(bufferSize, kMinRing, kMaxRing);
    if (!ring_.allocate(size))
        return 0;
    streamMode_ = 1;
    endOfInput_ = false;
    source_.reset();
    keyIndex_.clear();
    lastInputUs_ = steadyUs();
    pacer_ = Pacer{};
    timeline_.reset();
    audioFailed_ = false;
    setStateLocked(PortState::Open);
    checkLocked();
    return 1;
}

int Port::setStreamMode(int mode)
{
    std::lock_guard lock(mu_);
    if (state_ == PortState::Free || (mode != 0 && mode != 1))
        return 0;
    streamMode_ = mode;
    return 1;
}

int Port::play(TvxFrameSink* sink)
{
    if (onOwnThread())
        return 0;
    std::lock_guard cmd(cmdMu_);
    if (state() == PortState::Free)
        return 0;
    {
        std::lock_guard sinkLock(sinkMu_);
        sink_ = sink;
        sinkSize_ = 0; // the new sink has not asked for a size yet
    }
    std::lock_guard lock(mu_);
    mode_ = ShowMode::Normal;
    steps_ = 0;
    pacer_.setLevel(0);
    pacer_.restart(clock_->nowUs());
    if (state_ == PortState::Open)
        startThreads();
    wakeShowLocked();
    checkLocked();
    return 1;
}

int Port::stop()
{
    if (onOwnThread())
        return 0;
    std::lock_guard cmd(cmdMu_);
    PortState s = state();
    if (s == PortState::Free)
        return 0;
    if (s == PortState::Showing) {
        stopThreads();
        closeAudio();
    }
    return 1;
}

int Port::closeStream()
{
    if (onOwnThread())
        return 0;
    std::lock_guard cmd(cmdMu_);
    PortState s = state();
    if (s == PortState::Free)
        return 1;
    if (s == PortState::Showing)
        stopThreads();
    closeAudio();
    recorder_.stop();
    {
        std::lock_guard sinkLock(sinkMu_);
        sink_ = nullptr;
        // The scaler and its buffers are sized for this stream: a closed port holds none.
        showConverter_ = std::make_unique<PictureConverter>();
    }
    std::lock_guard lock(mu_);
    ring_.release();
    history_.clear();
    historyBytes_ = 0;
    cursor_ = 0;
    endOfInput_ = false;
    source_.reset();
    seekPending_ = false;
    setStateLocked(PortState::Free);
    checkLocked();
    return 1;
}

int Port::pause(bool on)
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing)
        return 0;
    if (on) {
        mode_ = ShowMode::Paused;
        steps_ = 0;
    } else if (mode_ != ShowMode::Normal) {
        mode_ = ShowMode::Normal;
        steps_ = 0;
        pacer_.restart(clock_->nowUs());
    }
    wakeShowLocked();
    checkLocked();
    return 1;
}

int Port::changeLevel(int delta)
{
    std::lock_guard lock(mu_);
    int level = pacer_.level() + delta;
    if (state_ != PortState::Showing || level < Pacer::kMinLevel || level > Pacer::kMaxLevel)
        return 0;
    pacer_.setLevel(level);
    wakeShowLocked();
    return 1;
}

int Port::faster()
{
    return changeLevel(+1);
}

int Port::slower()
{
    return changeLevel(-1);
}

int Port::stepNext()
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing)
        return 0;
    if (mode_ != ShowMode::Step) {
        mode_ = ShowMode::Step;
        steps_ = 0;
    }
    steps_ = std::min(steps_ + 1, kMaxPendingSteps);
    wakeShowLocked();
    checkLocked();
    return 1;
}

int Port::stepFront()
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing)
        return 0;
    if (history_.size() >= cursor_ + 2) {
        ++cursor_;
        mode_ = ShowMode::Step;
        steps_ = 0;
        redraw_ = true;
        announce_ = true;
        wakeShowLocked();
        checkLocked();
        return 1;
    }
    // Nothing earlier kept: a port that reads its recording decodes again from the key picture
    // before the picture on screen (the positioning of a seek). Not before the first picture.
    const Picture* onScreen = onScreenLocked();
    if (!source_ || !onScreen || onScreen->time.positionUs <= 0)
        return 0;
    mode_ = ShowMode::Step;
    steps_ = 0;
    if (stepBack_ && (seekPending_ || seekShow_))
        return 1; // the step back asked for before is still being decoded: this one joins it
    positionLocked(SeekTarget{onScreen->time.positionUs, SeekTarget::Kind::Before}, true);
    return 1;
}

int Port::pausedTick()
{
    std::lock_guard lock(mu_);
    if (state_ != PortState::Showing || !onScreenLocked())
        return 0;
    redraw_ = true;
    wakeShowLocked();
    return 1;
}

int Port::soundOn()
{
    soundOn_ = true;
    std::lock_guard lock(mu_);
    audioFailed_ = false;
    return 1;
}

int Port::soundOff()
{
    soundOn_ = false;
    closeAudio();
    return 1;
}

void Port::closeAudio()
{
    std::shared_ptr<AudioChannel> channel;
    {
        std::lock_guard lock(mu_);
        channel = std::move(audio_);
        sounds_.clear();
    }
    AudioOutput::close(channel);
}

FramePtr Port::onScreenCopy(StreamTime* time) const
{
    std::lock_guard lock(mu_);
    const Picture* p = onScreenLocked();
    if (!p)
        return nullptr;
    if (time)
        *time = p->time;
    return FramePtr(av_frame_clone(p->frame.get()));
}

int Port::snapshot(const char* path)
{
    if (!path || !*path)
        return 0;
    FramePtr picture = onScreenCopy(nullptr);
    return picture && writeSnapshot(picture.get(), QFile::decodeName(path)) ? 1 : 0;
}

int Port::grabPicture(TvxPicture* out)
{
    StreamTime time;
    FramePtr picture = out ? onScreenCopy(&time) : nullptr;
    if (!picture)
        return 0;
    QImage image = snapshotImage(picture.get());
    if (image.isNull())
        return 0;
    out->image = std::move(image);
    out->positionUs = time.positionUs;
    out->index = time.index;
    return 1;
}

int Port::startRecord(const char* path)
{
    std::lock_guard cmd(cmdMu_);
    if (state() == PortState::Free)
        return 0;
    return recorder_.start(path) ? 1 : 0;
}

int Port::stopRecord()
{
    std::lock_guard cmd(cmdMu_);
    return recorder_.stop() ? 1 : 0;
}

int Port::setOptions(const TvxPortOptions& options)
{
    std::lock_guard cmd(cmdMu_);
    std::lock_guard lock(mu_);
    if (state_ == PortState::Showing)
        return 0;
    options_ = options;
    clock_ = options.clock ? options.clock : &steadyClock();
    return 1;
}

// ---- feeding ---------------------------------------------------------------------------------

int Port::feed(const uint8_t* data, size_t length, bool wait)
{
    if (!data || length == 0 || (wait && onOwnThread()))
        return 0;
    {
        std::unique_lock lock(mu_);
        for (;;) {
            if (state_ == PortState::Free || source_)
                return 0;
            if (ring_.write(data, length))
                break;
            // Waiting makes sense only while the threads empty the ring.
            if (!wait || state_ != PortState::Showing || length > ring_.capacity())
                return 0;
            inputCv_.wait(lock);
        }
        endOfInput_ = false;
        lastInputUs_ = steadyUs();
        inputCv_.notify_all();
    }
    return 1;
}

int Port::inputData(const uint8_t* data, size_t length)
{
    return feed(data, length, false);
}

int Port::inputBlocking(const uint8_t* data, size_t length)
{
    return feed(data, length, true);
}

int Port::endOfInput()
{
    std::lock_guard lock(mu_);
    if (state_ == PortState::Free)
        return 0;
    endOfInput_ = true;
    inputCv_.notify_all();
    return 1;
}

unsigned Port::bufferedData() const
{
    std::lock_guard lock(mu_);
    return bufferedLocked();
}

int Port::bufferValue(int which) const
{
    if (which < 1 || which > 3)
        return -1;
    std::lock_guard lock(mu_);
    if (state_ == PortState::Free)
        return 0;
    size_t value = which == 1 ? ring_.size()
                   : which == 2 ? ring_.space()
                                : queue_.size() + static_cast<size_t>(presenting_);
    return static_cast<int>(std::min<size_t>(value, INT_MAX));
}

unsigned Port::playedSeconds() const
{
    std::lock_guard lock(mu_);
    const Picture* p = onScreenLocked();
    return p ? static_cast<unsigned>(p->time.positionUs / 1'000'000) : 0;
}

int Port::waitShown(int timeoutMs)
{
    if (onOwnThread())
        return 0;
    using namespace std::chrono;
    auto deadline = steady_clock::now() + milliseconds(std::max(timeoutMs, 0));
    std::unique_lock lock(mu_);
    for (;;) {
        if (state_ == PortState::Free)
            return 0;
        if (bufferedLocked() == 0)
            return 1;
        if (state_ != PortState::Showing)
            return 0;
        if (timeoutMs < 0)
            showCv_.wait(lock);
        else if (showCv_.wait_until(lock, deadline) == std::cv_status::timeout)
            return bufferedLocked() == 0 ? 1 : 0;
    }
}

// ---- threads ---------------------------------------------------------------------------------

void Port::wakeShowLocked()
{
    showCv_.notify_all();
    ticket_.setDeadline(decodeDeadlineLocked());
    if (presenter_)
        presenter_->poke();
}

int64_t Port::decodeDeadlineLocked() const
{
    const int64_t now = clock_->nowUs();
    int64_t due = now; // unlimited, single frames asked for, or the run not started yet
    if (!options_.unlimited && !seekShow_) {
        if (mode_ == ShowMode::Paused || (mode_ == ShowMode::Step && steps_ == 0)) {
            due = now + kIdleDeadlineUs;
        } else if (mode_ == ShowMode::Normal && pacer_.anchored()) {
            // The picture after the last one decoded keeps the pacer's time.
            const Picture* last = queue_.empty() ? onScreenLocked() : &queue_.back();
            if (last)
                due = pacer_.expected(last->time.paceUs + lastDurationUs_);
        }
    }
    // Ports may run on different clocks (tests): the slots compare times on the steady one.
    return steadyUs() + (due - now);
}

void Port::startThreads()
{
    stopping_ = false;
    threadsRunning_ = true;
    shownAny_ = false;
    lead_ = StartLead{};
    if (source_) {
        // A source plays from its start, or from the place a seek asked for meanwhile.
        sourcePos_ = 0;
        busy_ = true;
        timeline_.reset();
    }
    setStateLocked(PortState::Showing);
    ShowingPorts::add();
    presenter_ = Presenter::join(this, clock_);
    decodeThread_ = std::thread([this] { decodeLoop(); });
}

void Port::stopThreads()
{
    Presenter* presenter = nullptr;
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
        inputCv_.notify_all();
        showCv_.notify_all();
        presenter = std::exchange(presenter_, nullptr);
    }
    DecodeSlots::shared().interrupt();
    // After leave() the presenter is out of this port's step and never enters it again.
    Presenter::leave(presenter, this);
    decodeThread_.join();
    std::lock_guard lock(mu_);
    stopping_ = false;
    threadsRunning_ = false;
    queue_.clear();
    sounds_.clear();
    presenting_ = 0;
    inFlight_ = 0;
    mode_ = ShowMode::Normal;
    steps_ = 0;
    redraw_ = false;
    announce_ = false;
    seekShow_ = false;
    stepBack_ = false;
    backStretch_.clear();
    busy_ = false;
    // The picture on screen stays (for a snapshot); pictures after it go.
    for (; cursor_ > 0; --cursor_) {
        historyBytes_ -= history_.back().bytes;
        history_.pop_back();
    }
    setStateLocked(PortState::Open);
    ShowingPorts::remove();
    showCv_.notify_all();
    checkLocked();
}

} // namespace tarnvox
