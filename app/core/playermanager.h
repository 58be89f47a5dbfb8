// CPlayerManager -- the 64 players of the main window, one per video window.
//
// Slot i holds the player of video window i (its engine port is i as well). The manager
// forwards every command to the player of a window index; a forwarder answers 0 when the
// index is outside 0-63 or the slot holds no player, else the player's own result (see
// player.h for what each one does). Everything here runs on the user-interface thread.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "player.h"

class CPlayerManager {
 public:
  static constexpr int kPlayerCount = 64;

  // The process-wide manager, made on the first call (players on the real engine).
  static CPlayerManager& Instance();
  // Deletes the process-wide manager (closing every active player); the next Instance()
  // makes a fresh one. The main window calls it as it is torn down.
  static void DestroyInstance();

  // A manager whose players use `engine` (which must outlive it); all slots empty. Tests make
  // their own over an engine stand-in.
  explicit CPlayerManager(CPlaybackEngine* engine = &CTarnvoxEngine::Instance());
  // Closes every player that is not idle, then deletes all players.
  virtual ~CPlayerManager();
  CPlayerManager(const CPlayerManager&) = delete;
  CPlayerManager& operator=(const CPlayerManager&) = delete;

  // Puts a new player for window `window` (may be null) into slot index, deleting the player
  // that was there. Returns 1; 0 when index is outside 0-63.
  int CreatePlayer(TvxFrameSink* window, int index);

  // The player in slot index, or null (bad index or empty slot).
  CPlayer* Player(int index) const;

  // Replaces what shows a snapshot to the user, for every player now and made later (see
  // CPlayer::SetFileViewer). Tests set one that only notes the path.
  void SetFileViewer(CPlayer::FileViewer viewer);

  // Forwarders: 0 for a bad index or an empty slot, else the player's result.
  int Open(int index, const std::string& path);
  int Open(int index, const std::string& path, int64_t startMs);
  int Close(int index);
  int GetState(int index) const;
  int SoundOn(int index);
  int SoundOff(int index);
  int StartRecord(int index, const std::string& folder, int flag);
  int StopRecord(int index);
  int Snapshot(int index, const std::string& folder, SnapshotFormat format = SnapshotFormat::Bmp);
  int GetEnded(int index) const;  // CPlayer::endNone..endNoPicture
  int Pause(int index, int on);
  int Stop(int index);
  int SetSlow(int index, int level);
  int SetFast(int index, int level);
  int StepFront(int index);
  int StepNext(int index);
  int Resume(int index);
  int PausedTick(int index);
  int GetProgress(int index);

 private:
  CPlaybackEngine* const m_pEngine;
  CPlayer::FileViewer m_viewer;  // given to new players when set
  std::array<std::unique_ptr<CPlayer>, kPlayerCount> m_players;
};
