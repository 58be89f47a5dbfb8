// CTarnvoxEngine: the playback engine interface over the tarnvox functions, one to one.
#include "playbackengine.h"

CTarnvoxEngine& CTarnvoxEngine::Instance() {
  static CTarnvoxEngine engine;
  return engine;
}

int CTarnvoxEngine::Prepare() { return TvxPrepare(); }

int CTarnvoxEngine::OpenStream(int port, const unsigned char* header, unsigned headerLength,
                               unsigned bufferSize) {
  return TvxOpenStream(port, header, headerLength, bufferSize);
}

int CTarnvoxEngine::SetStreamMode(int port, int mode) { return TvxSetStreamMode(port, mode); }
int CTarnvoxEngine::Play(int port, TvxFrameSink* window) { return TvxPlay(port, window); }

int CTarnvoxEngine::InputData(int port, const unsigned char* data, unsigned length) {
  return TvxInputData(port, data, length);
}

unsigned CTarnvoxEngine::GetBufferedData(int port) { return TvxGetBufferedData(port); }
int CTarnvoxEngine::GetBufferValue(int port, int which) { return TvxGetBufferValue(port, which); }
unsigned CTarnvoxEngine::GetPlayedSeconds(int port) { return TvxGetPlayedSeconds(port); }
int CTarnvoxEngine::SetSource(int port, const TvxSource* source) {
  return TvxSetSource(port, source);
}
int CTarnvoxEngine::Stop(int port) { return TvxStop(port); }
int CTarnvoxEngine::Seek(int port, int64_t ms) { return TvxSeek(port, ms); }
int64_t CTarnvoxEngine::GetPictureTime(int port) { return TvxGetPictureTime(port); }
int CTarnvoxEngine::CloseStream(int port) { return TvxCloseStream(port); }
int CTarnvoxEngine::Pause(int port, int on) { return TvxPause(port, on); }
int CTarnvoxEngine::Faster(int port) { return TvxFaster(port); }
int CTarnvoxEngine::Slower(int port) { return TvxSlower(port); }
int CTarnvoxEngine::StepNext(int port) { return TvxStepNext(port); }
int CTarnvoxEngine::StepFront(int port) { return TvxStepFront(port); }
int CTarnvoxEngine::PausedTick(int port) { return TvxPausedTick(port); }
int CTarnvoxEngine::SoundOn(int port) { return TvxSoundOn(port); }
int CTarnvoxEngine::SoundOff(int port) { return TvxSoundOff(port); }
int CTarnvoxEngine::Snapshot(int port, const char* path) { return TvxSnapshot(port, path); }
int CTarnvoxEngine::GrabPicture(int port, TvxPicture* picture) {
  return TvxGrabPicture(port, picture);
}

int CTarnvoxEngine::StartRecord(int port, const char* path, int flag) {
  return TvxStartRecord(port, path, flag);
}

int CTarnvoxEngine::StopRecord(int port) { return TvxStopRecord(port); }
