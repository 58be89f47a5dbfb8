// CPlayer: the feeding loop on the player's thread and the playback commands.
#include "player.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QUrl>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <vfs/fsfile.h>

// Debug trace of the feeding loop and the speed commands; hidden unless
// QT_LOGGING_RULES="vendrel.player.debug=true".
Q_LOGGING_CATEGORY(lcPlayer, "vendrel.player", QtInfoMsg)

namespace {

constexpr int kSnapshotViewDelayMs = 50;

void OpenWithDesktop(const std::string& path) {
  // Without a graphical application object there is no desktop to ask.
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(path)));
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Speed levels as signed steps from normal: slow k is -k, fast k is +k.
int SignedSteps(int level) { return level <= CPlayer::speedSlow3 ? -level : level - 3; }

}  // namespace

std::string RecordFilePath(const std::string& folder, const RecordingName& recording) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%03d_%04d%02d%02d_", recording.channel, recording.year,
                recording.month, recording.day);
  return JoinPath(folder, prefix + recording.fileName);
}

CPlayer::CPlayer(TvxFrameSink* window, int port, CPlaybackEngine* engine)
    : CThread("Player", 64, 0, 0),
      m_hPlayWnd(window),
      m_nPort(port),
      m_pEngine(engine),
      m_viewer(OpenWithDesktop) {}

CPlayer::~CPlayer() {
  CThread::Stop(true);
  Join();
}

// ---------------------------------------------------------------------------------------------
// The feeding loop
// ---------------------------------------------------------------------------------------------

namespace {

// The engine reads the recording through the player's open file, on its decoding thread only
// (the feeding loop meanwhile only waits).
long ReadFileAt(void* opaque, int64_t offset, unsigned char* buffer, size_t length) {
  auto* file = static_cast<CFSFile*>(opaque);
  if (offset < 0 || offset > INT32_MAX) return -1;
  if (file->Seek(static_cast<int32_t>(offset), CFSFile::begin) != offset) return -1;
  return file->Read(buffer, static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX)));
}

}  // namespace

void CPlayer::KeepLastPicture() {
  TvxPicture last;
  const bool shown = m_pEngine->GrabPicture(m_nPort, &last) != 0;
  {
    std::lock_guard lock(m_lastMutex);
    m_lastPicture = SnapshotPicture{std::move(last.image), last.positionUs, last.index};
  }
  m_nEnded.store(shown ? endPicture : endNoPicture);
}

void CPlayer::ForgetEnd() {
  m_nEnded.store(endNone);
  std::lock_guard lock(m_lastMutex);
  m_lastPicture = SnapshotPicture{};
}

void CPlayer::ThreadProc() {
  CPlaybackEngine& engine = *m_pEngine;
  engine.Prepare();
  // The engine finds out by itself what the stream is; it is given one byte as a header.
  const unsigned char header = 0;
  if (engine.OpenStream(m_nPort, &header, 1, kStreamBufferSize)) {
    engine.SetStreamMode(m_nPort, 1);
    CFSFile file;
    const bool opened = file.Open(m_strPath.c_str(), CFSFile::modeRead);
    // The engine reads the file itself where it can (it can then be positioned in time);
    // otherwise the loop feeds it block by block.
    const TvxSource source{ReadFileAt, &file, opened ? int64_t{file.GetLength()} : 0};
    const bool reads = opened && engine.SetSource(m_nPort, &source);
    if (reads && m_nStartMs.load() > 0) engine.Seek(m_nPort, m_nStartMs.load());
    if (engine.Play(m_nPort, m_hPlayWnd)) {
      if (opened) {
        m_nState.store(statePlaying);
        if (reads)
          m_nFeedDone.store(100);
        else
          FeedLoop(file);
        while (engine.GetBufferedData(m_nPort) != 0) {
          qCDebug(lcPlayer, "Sleep it two!");
          if (!NapWhileLooping(kDrainPollMs)) break;
        }
        if (m_bLoop.load()) KeepLastPicture();
      }
      engine.Stop(m_nPort);
    }
  }
  engine.CloseStream(m_nPort);
  m_bLoop.store(false);
  m_nState.store(stateIdle);
  m_nFeedDone.store(0);
}

void CPlayer::FeedLoop(CFSFile& file) {
  CPlaybackEngine& engine = *m_pEngine;
  const auto block = std::make_unique<unsigned char[]>(kBlockSize);
  while (m_bLoop.load()) {
    const uint32_t count = file.Read(block.get(), kBlockSize);
    if (count == 0) break;  // end of file or read error
    while (!engine.InputData(m_nPort, block.get(), count)) {
      qCDebug(lcPlayer, "Sleep it!");
      if (!NapWhileLooping(kRetryMs)) break;
    }
  }
  m_nFeedDone.store(100);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------------------------

int CPlayer::Open(const std::string& path) { return Open(path, 0); }

int CPlayer::Open(const std::string& path, int64_t startMs) {
  RecordingName name;
  if (!ParseRecordingPath(path, &name)) return 0;
  // The old run ends before anything it reads changes (rule 4).
  if (m_bLoop.load()) CThread::Stop(true);
  Join();  // a run that ended by itself may still be leaving its thread
  m_strPath = path;
  m_nStartMs.store(std::max<int64_t>(startMs, 0));
  ForgetEnd();
  m_nDuration.store(RecordingDuration(name));
  m_nFeedDone.store(0);
  m_nPlayStatus.store(speedNormal);  // the engine's Play starts the new stream at normal speed
  const bool started = Start();
  CheckRules();
  return started ? 1 : 0;
}

int CPlayer::Close() {
  if (m_bLoop.load()) {
    CThread::Stop(true);
    m_nState.store(stateIdle);
    m_bLoop.store(false);
  }
  m_nFeedDone.store(0);
  m_nDuration.store(0);
  ForgetEnd();
  CheckRules();
  return 1;
}

int CPlayer::Stop() {
  if (m_bLoop.load()) CThread::Stop(true);
  if (m_pEngine->CloseStream(m_nPort)) m_nState.store(stateIdle);
  ForgetEnd();
  CheckRules();
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------------

void CPlayer::SetActiveState(int state) {
  int current = m_nState.load();
  while (current != stateIdle && !m_nState.compare_exchange_weak(current, state)) {
  }
}

int CPlayer::Seek(int64_t ms) { return m_pEngine->Seek(m_nPort, ms); }
int64_t CPlayer::GetPictureTime() { return m_pEngine->GetPictureTime(m_nPort); }

int CPlayer::SoundOn() { return m_pEngine->SoundOn(m_nPort); }
int CPlayer::SoundOff() { return m_pEngine->SoundOff(m_nPort); }
int CPlayer::StopRecord() { return m_pEngine->StopRecord(m_nPort); }
int CPlayer::PausedTick() { return m_pEngine->PausedTick(m_nPort); }

int CPlayer::StartRecord(const std::string& folder, int flag) {
  RecordingName name;
  if (!ParseRecordingPath(m_strPath, &name)) return 0;
  const std::string path = UnusedFilePath(RecordFilePath(folder, name));
  if (path.empty()) return 0;
  return m_pEngine->StartRecord(m_nPort, path.c_str(), flag);
}

bool CPlayer::TakePicture(SnapshotPicture* picture) {
  TvxPicture shown;
  if (m_pEngine->GrabPicture(m_nPort, &shown)) {
    *picture = SnapshotPicture{std::move(shown.image), shown.positionUs, shown.index};
    return true;
  }
  if (m_nEnded.load() != endPicture) return false;
  std::lock_guard lock(m_lastMutex);
  *picture = m_lastPicture;
  return !picture->image.isNull();
}

int CPlayer::Snapshot(const std::string& folder, SnapshotFormat format) {
  SnapshotPicture picture;
  if (!TakePicture(&picture)) return 0;
  std::string error;
  const std::string path = WriteSnapshotFiles(folder, m_strPath, picture, format, &error);
  if (path.empty()) {
    qCWarning(lcPlayer, "snapshot not written: %s", error.c_str());
    return 0;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kSnapshotViewDelayMs));
  if (m_viewer) m_viewer(path);
  return 1;
}

void CPlayer::SetFileViewer(FileViewer viewer) { m_viewer = std::move(viewer); }

int CPlayer::Pause(int on) {
  if (!m_pEngine->Pause(m_nPort, on ? 1 : 0)) return 0;
  SetActiveState(on ? statePaused : statePlaying);
  CheckRules();
  return 1;
}

int CPlayer::Resume() {
  if (m_nState.load() == statePaused) {
    m_pEngine->Pause(m_nPort, 0);
  } else {
    m_pEngine->Play(m_nPort, m_hPlayWnd);
    m_nPlayStatus.store(speedNormal);
  }
  SetActiveState(statePlaying);
  CheckRules();
  return 1;
}

// The engine calls for a move between two speed levels (S = Slower, F = Faster, P = Play):
//
//   from \ to  normal  slow 1  slow 2  slow 3  fast 1  fast 2  fast 3
//   normal     -       S       S S     S S S   F       F F     F F F
//   slow 1     P       -       S       S S     P F     P F F   P F F F
//   slow 2     P       F       -       S       P F     P F F   P F F F
//   slow 3     P       F F     F       -       P F     P F F   P F F F
//   fast 1     P       P S     P S S   P S S S -       F       F F
//   fast 2     P       P S     P S S   P S S S S       -       F
//   fast 3     P       P S     P S S   P S S S S S     S       -
void CPlayer::StepSpeedTo(int target) {
  const int current = m_nPlayStatus.load();
  if (current == target) return;
  int from = SignedSteps(current);
  const int to = SignedSteps(target);
  if (to == 0 || (from < 0 && to > 0) || (from > 0 && to < 0)) {
    // Across normal speed: back to normal first, then from there. Only the return to normal
    // speed itself is made when the window is missing and the move crosses to the other side.
    if (m_hPlayWnd == nullptr && to != 0) return;
    m_pEngine->Play(m_nPort, m_hPlayWnd);
    from = 0;
  }
  for (; from < to; ++from) m_pEngine->Faster(m_nPort);
  for (; from > to; --from) m_pEngine->Slower(m_nPort);
}

int CPlayer::SetSlow(int level) {
  if (m_nState.load() == stateSingleFrame) {
    if (!m_pEngine->Play(m_nPort, m_hPlayWnd)) return 0;
    SetActiveState(statePlaying);
  }
  if (level < speedSlow1 || level > speedSlow3) return 0;
  StepSpeedTo(level);
  m_nPlayStatus.store(level);
  CheckRules();
  return 1;
}

int CPlayer::SetFast(int level) {
  if (m_nState.load() == stateSingleFrame) {
    if (!m_pEngine->Play(m_nPort, m_hPlayWnd)) return 0;
    SetActiveState(statePlaying);
  }
  int result = 0;
  if (level >= 0 && level <= 3) {
    const int target = level == 0 ? speedNormal : 3 + level;
    StepSpeedTo(target);
    m_nPlayStatus.store(target);
    result = 1;
  }
  qCDebug(lcPlayer, "m_nPlayStatus = %d ", m_nPlayStatus.load());
  CheckRules();
  return result;
}

int CPlayer::StepFrame(int (CPlaybackEngine::*step)(int)) {
  if (m_nPlayStatus.load() > speedNormal) {
    SetFast(0);
    m_nPlayStatus.store(speedNormal);
  }
  const int result = (m_pEngine->*step)(m_nPort);
  if (result) SetActiveState(stateSingleFrame);
  CheckRules();
  return result;
}

int CPlayer::StepNext() { return StepFrame(&CPlaybackEngine::StepNext); }
int CPlayer::StepFront() { return StepFrame(&CPlaybackEngine::StepFront); }

int CPlayer::GetProgress() {
  if (m_nFeedDone.load() == 100 && m_pEngine->GetBufferedData(m_nPort) == 0 &&
      m_pEngine->GetBufferValue(m_nPort, 3) == 0)
    return 100;
  const int64_t played = m_pEngine->GetPlayedSeconds(m_nPort);
  const int64_t duration = m_nDuration.load();
  if (duration == 0) return 0;
  // Played seconds may run past the duration (gaps in the time stamps, a name that rounds the
  // end down): the result stays within 0-100.
  return static_cast<int>(std::clamp<int64_t>(played * 100 / duration, 0, 100));
}

void CPlayer::CheckRules() const {
#ifndef NDEBUG
  const int state = m_nState.load();
  const int speed = m_nPlayStatus.load();
  const int fed = m_nFeedDone.load();
  const int duration = m_nDuration.load();
  assert(state == stateIdle || state == statePlaying || state == statePaused ||
         state == stateSingleFrame);
  assert(speed >= speedNormal && speed <= speedFast3);
  assert(fed == 0 || fed == 100);
  assert(duration >= 0 && duration < 24 * 60 * 60);
  // Only the commands set single-frame mode, and never away from normal speed.
  assert(state != stateSingleFrame || speed == speedNormal);
#endif
}
