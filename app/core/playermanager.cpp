#include "playermanager.h"

namespace {
std::unique_ptr<CPlayerManager> g_manager;  // the process-wide manager; user-interface thread
}  // namespace

CPlayerManager& CPlayerManager::Instance() {
  if (!g_manager) g_manager = std::make_unique<CPlayerManager>();
  return *g_manager;
}

void CPlayerManager::DestroyInstance() { g_manager.reset(); }

CPlayerManager::CPlayerManager(CPlaybackEngine* engine) : m_pEngine(engine) {}

CPlayerManager::~CPlayerManager() {
  for (auto& player : m_players)
    if (player && player->GetState() != CPlayer::stateIdle) player->Close();
  for (auto& player : m_players) player.reset();
}

int CPlayerManager::CreatePlayer(TvxFrameSink* window, int index) {
  if (index < 0 || index >= kPlayerCount) return 0;
  m_players[static_cast<size_t>(index)].reset();
  m_players[static_cast<size_t>(index)] = std::make_unique<CPlayer>(window, index, m_pEngine);
  if (m_viewer) m_players[static_cast<size_t>(index)]->SetFileViewer(m_viewer);
  return 1;
}

void CPlayerManager::SetFileViewer(CPlayer::FileViewer viewer) {
  m_viewer = std::move(viewer);
  for (auto& player : m_players)
    if (player) player->SetFileViewer(m_viewer);
}

CPlayer* CPlayerManager::Player(int index) const {
  if (index < 0 || index >= kPlayerCount) return nullptr;
  return m_players[static_cast<size_t>(index)].get();
}

namespace {
// Calls (player->*op)(args...) when there is a player; 0 otherwise.
template <typename Op, typename... Args>
int Forward(CPlayer* player, Op op, Args&&... args) {
  return player ? (player->*op)(std::forward<Args>(args)...) : 0;
}
}  // namespace

int CPlayerManager::Open(int index, const std::string& path) { return Open(index, path, 0); }

int CPlayerManager::Open(int index, const std::string& path, int64_t startMs) {
  CPlayer* player = Player(index);
  return player ? player->Open(path, startMs) : 0;
}
int CPlayerManager::Close(int index) { return Forward(Player(index), &CPlayer::Close); }
int CPlayerManager::GetState(int index) const {
  return Forward(Player(index), &CPlayer::GetState);
}
int CPlayerManager::SoundOn(int index) { return Forward(Player(index), &CPlayer::SoundOn); }
int CPlayerManager::SoundOff(int index) { return Forward(Player(index), &CPlayer::SoundOff); }
int CPlayerManager::StartRecord(int index, const std::string& folder, int flag) {
  return Forward(Player(index), &CPlayer::StartRecord, folder, flag);
}
int CPlayerManager::StopRecord(int index) {
  return Forward(Player(index), &CPlayer::StopRecord);
}
int CPlayerManager::Snapshot(int index, const std::string& folder, SnapshotFormat format) {
  return Forward(Player(index), &CPlayer::Snapshot, folder, format);
}
int CPlayerManager::GetEnded(int index) const {
  return Forward(Player(index), &CPlayer::GetEnded);
}
int CPlayerManager::Pause(int index, int on) {
  return Forward(Player(index), &CPlayer::Pause, on);
}
int CPlayerManager::Stop(int index) { return Forward(Player(index), &CPlayer::Stop); }
int CPlayerManager::SetSlow(int index, int level) {
  return Forward(Player(index), &CPlayer::SetSlow, level);
}
int CPlayerManager::SetFast(int index, int level) {
  return Forward(Player(index), &CPlayer::SetFast, level);
}
int CPlayerManager::StepFront(int index) { return Forward(Player(index), &CPlayer::StepFront); }
int CPlayerManager::StepNext(int index) { return Forward(Player(index), &CPlayer::StepNext); }
int CPlayerManager::Resume(int index) { return Forward(Player(index), &CPlayer::Resume); }
int CPlayerManager::PausedTick(int index) {
  return Forward(Player(index), &CPlayer::PausedTick);
}
int CPlayerManager::GetProgress(int index) {
  return Forward(Player(index), &CPlayer::GetProgress);
}
