// The Tvx* port interface: the table of 64 ports and the argument checks in front of them.
#include "budget.h"
#include "log.h"
#include "picturebuffers.h"
#include "port.h"

#include <tarnvox/tarnvox.h>

#include <array>
#include <climits>
#include <memory>

using tarnvox::Port;

namespace {

Port* portAt(int port)
{
    static const std::array<std::unique_ptr<Port>, TVX_PORTS> table = [] {
        std::array<std::unique_ptr<Port>, TVX_PORTS> ports;
        for (int i = 0; i < TVX_PORTS; ++i)
            ports[static_cast<size_t>(i)] = std::make_unique<Port>(i);
        return ports;
    }();
    return port >= 0 && port < TVX_PORTS ? table[static_cast<size_t>(port)].get() : nullptr;
}

// Calls fn on the port, or gives `bad` for a port number outside 0–63.
template <typename Result, typename Fn>
Result onPort(int port, Result bad, Fn fn)
{
    Port* p = portAt(port);
    return p ? fn(*p) : bad;
}

} // namespace

int TvxPrepare()
{
    tarnvox::routeFfmpegLog();
    return 1;
}

int TvxOpenStream(int port, const unsigned char*, unsigned, unsigned bufferSize)
{
    return onPort(port, 0, [&](Port& p) { return p.openStream(bufferSize); });
}

int TvxSetStreamMode(int port, int mode)
{
    return onPort(port, 0, [&](Port& p) { return p.setStreamMode(mode); });
}

int TvxPlay(int port, TvxFrameSink* window)
{
    return onPort(port, 0, [&](Port& p) { return p.play(window); });
}

int TvxInputData(int port, const unsigned char* data, unsigned length)
{
    return onPort(port, 0, [&](Port& p) { return p.inputData(data, length); });
}

unsigned TvxGetBufferedData(int port)
{
    return onPort(port, 0u, [](Port& p) { return p.bufferedData(); });
}

int TvxGetBufferValue(int port, int which)
{
    return onPort(port, 0, [&](Port& p) { return p.bufferValue(which); });
}

unsigned TvxGetPlayedSeconds(int port)
{
    return onPort(port, 0u, [](Port& p) { return p.playedSeconds(); });
}

int TvxStop(int port)
{
    return onPort(port, 0, [](Port& p) { return p.stop(); });
}

int TvxCloseStream(int port)
{
    return onPort(port, 0, [](Port& p) { return p.closeStream(); });
}

int TvxPause(int port, int on)
{
    return onPort(port, 0, [&](Port& p) { return p.pause(on != 0); });
}

int TvxFaster(int port)
{
    return onPort(port, 0, [](Port& p) { return p.faster(); });
}

int TvxSlower(int port)
{
    return onPort(port, 0, [](Port& p) { return p.slower(); });
}

int TvxStepNext(int port)
{
    return onPort(port, 0, [](Port& p) { return p.stepNext(); });
}

int TvxStepFront(int port)
{
    return onPort(port, 0, [](Port& p) { return p.stepFront(); });
}

int TvxPausedTick(int port)
{
    return onPort(port, 0, [](Port& p) { return p.pausedTick(); });
}

int TvxSoundOn(int port)
{
    return onPort(port, 0, [](Port& p) { return p.soundOn(); });
}

int TvxSoundOff(int port)
{
    return onPort(port, 0, [](Port& p) { return p.soundOff(); });
}

int TvxSnapshot(int port, const char* path)
{
    return onPort(port, 0, [&](Port& p) { return p.snapshot(path); });
}

int TvxGrabPicture(int port, TvxPicture* picture)
{
    return onPort(port, 0, [&](Port& p) { return p.grabPicture(picture); });
}

int TvxStartRecord(int port, const char* path, int)
{
    return onPort(port, 0, [&](Port& p) { return p.startRecord(path); });
}

int TvxStopRecord(int port)
{
    return onPort(port, 0, [](Port& p) { return p.stopRecord(); });
}

int TvxSetSource(int port, const TvxSource* source)
{
    return onPort(port, 0, [&](Port& p) { return p.setSource(source); });
}

int TvxSeek(int port, int64_t ms)
{
    return onPort(port, 0, [&](Port& p) {
        const int64_t us = ms < 0 ? 0 : ms > INT64_MAX / 1000 ? INT64_MAX : ms * 1000;
        return p.seekTo(tarnvox::SeekTarget{us, tarnvox::SeekTarget::Kind::AtOrAfter});
    });
}

int64_t TvxGetPictureTime(int port)
{
    return onPort(port, int64_t{-1}, [](Port& p) { return p.pictureTimeMs(); });
}

int tvx_set_port_options(int port, const TvxPortOptions& options)
{
    return onPort(port, 0, [&](Port& p) { return p.setOptions(options); });
}

int tvx_end_of_input(int port)
{
    return onPort(port, 0, [](Port& p) { return p.endOfInput(); });
}

int tvx_set_decoding_slots(int count)
{
    tarnvox::DecodeSlots::shared().resize(count);
    return tarnvox::DecodeSlots::shared().size();
}

int tvx_memory(int port, TvxMemory* out)
{
    if (!out || port < -1 || port >= TVX_PORTS)
        return 0;
    *out = TvxMemory{};
    for (int i = port < 0 ? 0 : port; i < (port < 0 ? TVX_PORTS : port + 1); ++i)
        portAt(i)->addMemory(*out);
    const tarnvox::PictureBudget budget = tarnvox::historyBudget(tarnvox::ShowingPorts::count());
    out->budgetPictures = budget.pictures;
    out->budgetBytes = budget.bytes;
    out->showingPorts = tarnvox::ShowingPorts::count();
    out->pictureBufferBytes = tarnvox::PictureBuffers::madeBytes();
    return 1;
}

int tvx_wait_shown(int port, int timeoutMs)
{
    return onPort(port, 0, [&](Port& p) { return p.waitShown(timeoutMs); });
}
