// Sound of the ports (see audio.h).
#include "audio.h"

#include "log.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <cstring>
#include <map>

extern "C" {
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace tarnvox {

// ---- AudioChannel ----------------------------------------------------------------------------

AudioChannel::AudioChannel(const AudioFormat& format)
    : format_(format), capacity_(static_cast<size_t>(std::max(format.bytesPerSecond(), 4096)))
{
}

void AudioChannel::write(const uint8_t* data, size_t length)
{
    std::lock_guard lock(mu_);
    bytes_.insert(bytes_.end(), data, data + length);
    if (bytes_.size() > capacity_) {
        size_t frameBytes = static_cast<size_t>(format_.channels) *
                            static_cast<size_t>(av_get_bytes_per_sample(format_.sampleFormat));
        size_t drop = bytes_.size() - capacity_;
        drop += (frameBytes - drop % frameBytes) % frameBytes; // keep whole sample frames
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(drop));
    }
}

size_t AudioChannel::read(uint8_t* out, size_t length)
{
    std::lock_guard lock(mu_);
    size_t n = std::min(length, bytes_.size());
    if (n > 0) // an empty FIFO has no data pointer to copy from
        std::memcpy(out, bytes_.data(), n);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    std::memset(out + n, format_.sampleFormat == AV_SAMPLE_FMT_U8 ? 0x80 : 0, length - n);
    return length;
}

size_t AudioChannel::size() const
{
    std::lock_guard lock(mu_);
    return bytes_.size();
}

void AudioChannel::clear()
{
    std::lock_guard lock(mu_);
    bytes_.clear();
}

// ---- AudioOutput -----------------------------------------------------------------------------

namespace {

// The device side of a channel: QAudioSink pulls from it.
class ChannelDevice : public QIODevice {
public:
    ChannelDevice(std::shared_ptr<AudioChannel> channel, QObject* parent)
        : QIODevice(parent), channel_(std::move(channel))
    {
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        return static_cast<qint64>(
            channel_->read(reinterpret_cast<uint8_t*>(data), static_cast<size_t>(maxSize)));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::shared_ptr<AudioChannel> channel_; // where the PCM comes from
};

AVSampleFormat toAv(QAudioFormat::SampleFormat f)
{
    switch (f) {
    case QAudioFormat::UInt8: return AV_SAMPLE_FMT_U8;
    case QAudioFormat::Int16: return AV_SAMPLE_FMT_S16;
    case QAudioFormat::Int32: return AV_SAMPLE_FMT_S32;
    case QAudioFormat::Float: return AV_SAMPLE_FMT_FLT;
    default: return AV_SAMPLE_FMT_NONE;
    }
}

// The audio thread and the sinks living on it.
struct AudioThread {
    std::mutex mu;                              // guards thread and context; held while the
                                                // audio thread opens a device for a caller
    QThread* thread = nullptr;                  // running event loop, null when not started
    QObject* context = nullptr;                 // object on the thread; invocations target it
    std::map<const AudioChannel*, QAudioSink*> sinks; // audio thread only
    std::mutex jobsMu;
    std::deque<std::function<void()>> jobs;     // jobsMu: work waiting for the audio thread
};

// Made on first use and never destroyed: ports close their sound in their destructors, which
// may run at the very end of the process.
AudioThread& audioThread()
{
    static auto* t = new AudioThread;
    return *t;
}

// Hands fn to the audio thread. The work itself goes through a standard mutex, and the queued
// call only wakes the thread: Qt's event queue locks futexes directly, so a thread checker would
// not see the hand-over of anything the call carried.
void postToAudioThread(AudioThread& t, std::function<void()> fn)
{
    {
        std::lock_guard lock(t.jobsMu);
        t.jobs.push_back(std::move(fn));
    }
    QMetaObject::invokeMethod(
        t.context,
        [] {
            AudioThread& at = audioThread();
            for (;;) {
                std::function<void()> job;
                {
                    std::lock_guard lock(at.jobsMu);
                    if (at.jobs.empty())
                        return;
                    job = std::move(at.jobs.front());
                    at.jobs.pop_front();
                }
                job();
            }
        },
        Qt::QueuedConnection);
}

// Runs fn on the audio thread and waits until it has run (woken through a standard mutex and
// condition variable, for the same reason).
template <typename Fn>
void runOnAudioThread(AudioThread& t, Fn&& fn)
{
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    postToAudioThread(t, [&] {
        fn();
        std::lock_guard lock(mu);
        done = true;
        cv.notify_one();
    });
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return done; });
}

// At the end of the application object: stops every sink and the thread.
void stopAudioThread()
{
    AudioThread& t = audioThread();
    std::lock_guard lock(t.mu);
    if (!t.thread)
        return;
    runOnAudioThread(t, [&t] {
        for (auto& [channel, sink] : t.sinks) {
            sink->stop();
            delete sink;
        }
        t.sinks.clear();
    });
    t.thread->quit();
    t.thread->wait();
    delete t.context;
    delete t.thread;
    t.context = nullptr;
    t.thread = nullptr;
}

bool startAudioThreadLocked(AudioThread& t)
{
    if (t.thread)
        return true;
    if (!QCoreApplication::instance())
        return false;
    t.thread = new QThread;
    t.thread->setObjectName(QStringLiteral("tvx-audio"));
    t.thread->start();
    t.context = new QObject;
    t.context->moveToThread(t.thread);
    qAddPostRoutine(stopAudioThread);
    return true;
}

} // namespace

std::shared_ptr<AudioChannel> AudioOutput::open(int rate, int channels)
{
    AudioThread& t = audioThread();
    std::lock_guard lock(t.mu);
    if (rate <= 0 || channels <= 0 || !startAudioThreadLocked(t))
        return nullptr;
    std::shared_ptr<AudioChannel> result;
    runOnAudioThread(t, [&] {
        QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            return;
        QAudioFormat format;
        format.setSampleRate(rate);
        format.setChannelCount(std::min(channels, 2));
        format.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(format))
            format = device.preferredFormat();
        AudioFormat pcm{format.sampleRate(), format.channelCount(), toAv(format.sampleFormat())};
        if (pcm.sampleFormat == AV_SAMPLE_FMT_NONE || pcm.rate <= 0 || pcm.channels <= 0 ||
            pcm.channels > 8)
            return;
        auto channel = std::make_shared<AudioChannel>(pcm);
        auto* sink = new QAudioSink(device, format, t.context);
        auto* source = new ChannelDevice(channel, sink);
        source->open(QIODevice::ReadOnly);
        sink->start(source);
        if (sink->error() != QAudio::NoError) {
            qCInfo(lcEngine, "audio device refused the stream");
            delete sink;
            return;
        }
        t.sinks[channel.get()] = sink;
        result = std::move(channel);
    });
    return result;
}

void AudioOutput::close(const std::shared_ptr<AudioChannel>& channel)
{
    if (!channel)
        return;
    AudioThread& t = audioThread();
    std::lock_guard lock(t.mu);
    if (!t.thread)
        return;
    const AudioChannel* key = channel.get();
    postToAudioThread(t, [&t, key] {
        auto it = t.sinks.find(key);
        if (it == t.sinks.end())
            return;
        it->second->stop();
        it->second->deleteLater();
        t.sinks.erase(it);
    });
}

// ---- Resampler -------------------------------------------------------------------------------

Resampler::~Resampler()
{
    swr_free(&swr_);
    av_channel_layout_uninit(&inLayout_);
}

bool Resampler::convert(const AVFrame* frame, const AudioFormat& format, std::vector<uint8_t>& out)
{
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inLayout, std::max(frame->ch_layout.nb_channels, 1));
    else if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0)
        return false;

    bool same = swr_ && inRate_ == frame->sample_rate && inFormat_ == frame->format &&
                av_channel_layout_compare(&inLayout_, &inLayout) == 0 &&
                outFormat_.rate == format.rate && outFormat_.channels == format.channels &&
                outFormat_.sampleFormat == format.sampleFormat;
    if (!same) {
        swr_free(&swr_);
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, format.channels);
        int ret = swr_alloc_set_opts2(&swr_, &outLayout, format.sampleFormat, format.rate,
                                      &inLayout, static_cast<AVSampleFormat>(frame->format),
                                      frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        if (ret < 0 || swr_init(swr_) < 0) {
            swr_free(&swr_);
            av_channel_layout_uninit(&inLayout);
            return false;
        }
        inRate_ = frame->sample_rate;
        inFormat_ = frame->format;
        av_channel_layout_uninit(&inLayout_);
        av_channel_layout_copy(&inLayout_, &inLayout);
        outFormat_ = format;
    }
    av_channel_layout_uninit(&inLayout);

    int maxSamples = swr_get_out_samples(swr_, frame->nb_samples);
    if (maxSamples <= 0)
        return maxSamples == 0;
    int frameBytes = format.channels * av_get_bytes_per_sample(format.sampleFormat);
    size_t start = out.size();
    out.resize(start + static_cast<size_t>(maxSamples) * static_cast<size_t>(frameBytes));
    uint8_t* planes[1] = {out.data() + start};
    int n = swr_convert(swr_, planes, maxSamples,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n < 0) {
        out.resize(start);
        return false;
    }
    out.resize(start + static_cast<size_t>(n) * static_cast<size_t>(frameBytes));
    return true;
}

} // namespace tarnvox
