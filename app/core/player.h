// CPlayer -- plays one recording in one video window.
//
// There is one player per video window, 64 in all, made once by the player manager and kept
// while the main window lives. A player is a thread (infra::CThread): Open starts a run that
// opens the recording through CFSFile and gives the playback engine's port a read callback over
// it (the engine then reads where it needs, so the window can be positioned in time: Seek); an
// engine that does not read by itself is fed by the loop in blocks of 32,768 bytes. The port
// decodes the recording and shows it in the window. At the end of the file the loop waits until the engine has shown everything, closes the
// stream and ends by itself. The user-interface thread drives the player with commands (pause,
// speed, single frame, snapshot, local record, sound) that go straight to the engine.
//
// States (GetState):
//
//            feeding loop opened stream and file
//   ┌──────┐ ───────────────────────────────────▶ ┌─────────┐  Pause(1)  ┌────────┐
//   │ 0    │                                      │ 1       │ ─────────▶ │ 2      │
//   │ idle │ ◀─── loop ends, Close, Stop ──────── │ playing │ ◀───────── │ paused │
//   └──────┘      (from every state)              └─────────┘  Pause(0), └────────┘
//                                                   │     ▲    Resume
//                                 StepNext/StepFront│     │SetSlow, SetFast, Resume
//                                  (from 1, 2, 4)  ▼     │
//                                               ┌──────────────┐
//                                               │ 4 single     │
//                                               │   frame      │
//                                               └──────────────┘
//
// Rules that hold whenever a command returns (checked in debug builds):
//   1. The state is 0, 1, 2 or 4; the speed level 0-6; the fed mark 0 or 100; the duration
//      0-86399 seconds.
//   2. In single-frame mode the speed level is normal (0).
//   3. Only the feeding loop takes a player out of idle: a command never turns an idle player
//      into a playing, paused or single-frame one.
//   4. The recording path changes only while no run is in progress; the feeding loop reads it
//      once, when it opens the file.
//
// Threads: every public function runs on the user-interface thread. The feeding loop runs on
// the player's own thread; it shares with the commands only the atomic fields below and the
// engine port (the engine accepts calls for one port from both threads). Stopping a run clears
// the thread's loop flag, which the loop tests before each read, each retry and each wait, and
// waits until the loop has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include <infra/datetime.h>
#include <infra/thread.h>

#include "playbackengine.h"

class CFSFile;
#include "recordingpath.h"
#include "snapshotfile.h"

class CPlayer : public infra::CThread {
 public:
  // States (GetState).
  enum : int { stateIdle = 0, statePlaying = 1, statePaused = 2, stateSingleFrame = 4 };
  // Speed levels (GetPlayStatus): normal, slow 1-3 (each one engine step slower), fast 1-3
  // (each one step faster).
  enum : int { speedNormal = 0, speedSlow1 = 1, speedSlow3 = 3, speedFast1 = 4, speedFast3 = 6 };

  static constexpr uint32_t kBlockSize = 32768;          // bytes read and offered at a time
  static constexpr unsigned kStreamBufferSize = 2048000; // the engine's input buffer per stream
  static constexpr int kRetryMs = 40;                    // pause before a refused block is
                                                         // offered again
  static constexpr int kDrainPollMs = 200;               // pause between checks while the engine
                                                         // shows what was fed

  // Called with the path of a snapshot just written, to show it to the user.
  using FileViewer = std::function<void(const std::string& path)>;

  // A player for the video window `window` (the engine's frame sink; may be null: pictures are
  // then decoded and timed but drawn nowhere) on engine port `port` (the window index 0-63).
  // engine: the playback engine; the real one unless a test gives a stand-in. It must outlive
  // the player. The player starts idle at normal speed; its thread is named "Player".
  CPlayer(TvxFrameSink* window, int port, CPlaybackEngine* engine = &CTarnvoxEngine::Instance());
  // Stops a running feeding loop and waits until it has ended.
  ~CPlayer() override;

  // Starts playing the recording at path, a full recording path "/mnt/ide.../..." (see
  // recordingpath.h). A run in progress is stopped first and waited for; the speed level is
  // back to normal. Returns 1 when the new run was started; 0, with nothing changed (a running
  // playback goes on), when the path does not read; 0, the player idle, when the system
  // refused a new thread.
  int Open(const std::string& path);
  // The same, showing the recording from startMs milliseconds after its first picture (when
  // the engine reads the file itself; else from its start).
  int Open(const std::string& path, int64_t startMs);

  // Stops a running feeding loop (waiting for it) and forgets the recording's duration. The
  // loop closes the engine stream as it ends. Returns 1.
  int Close();

  // The state: stateIdle, statePlaying, statePaused or stateSingleFrame. Any thread.
  int GetState() const { return m_nState.load(); }
  // The speed level: speedNormal, 1-3 slow, 4-6 fast. Any thread.
  int GetPlayStatus() const { return m_nPlayStatus.load(); }
  // The recording path of the last successful Open ("" before the first).
  const std::string& GetPath() const { return m_strPath; }

  // Sound of this window on / off. Returns the engine's result (non-zero: done).
  int SoundOn();
  int SoundOff();

  // Starts a local copy of the stream into folder, named
  //   <folder>/<CCC>_<YYYY><MM><DD>_<recording's file name>
  // (channel as in the path, day of the recording); flag goes to the engine (0). Returns the
  // engine's result (non-zero: the file is open); 0 when no recording path is known.
  int StartRecord(const std::string& folder, int flag);
  // Ends the local copy. Returns the engine's result.
  int StopRecord();

  // Writes the picture on screen -- or, in a window whose recording has ended, its last
  // picture -- into folder with its sidecar (snapshotfile.h) and, 50 ms later, hands the picture
  // file to the file viewer. Returns 1; 0 when there is no picture or a file could not be
  // written (nothing is shown then).
  int Snapshot(const std::string& folder, SnapshotFormat format = SnapshotFormat::Bmp);

  // How the last run ended. endNone: no run, a run in progress, or one that was stopped or
  // closed; endPicture: the recording was played to its end and its last picture stays in the
  // window; endNoPicture: it was played to its end and no picture could be decoded. Open,
  // Close and Stop set endNone. Any thread.
  enum : int { endNone = 0, endPicture = 1, endNoPicture = 2 };
  int GetEnded() const { return m_nEnded.load(); }

  // Pauses (on non-zero) or resumes (on = 0). On success the state is paused or playing.
  // Returns 1 on success, 0 when the engine refused.
  int Pause(int on);

  // Stops a running feeding loop (waiting for it), then closes the engine stream; once that
  // succeeded the player is idle. Also on an idle player. Returns 1.
  int Stop();

  // Speed: SetSlow(1-3) goes to slow level 1-3; SetFast(1-3) to fast level 1-3; SetFast(0) to
  // normal speed. A single-frame player first plays on (engine Play); when that fails the
  // result is 0 and nothing changes. The engine is then moved one step at a time; between a
  // slow and a fast level it first returns to normal speed (engine Play), which a player
  // without window skips, making no call at all. Returns 1; 0 for a level out of range, which
  // changes no speed (but a single-frame player plays on).
  int SetSlow(int level);
  int SetFast(int level);

  // One frame forward (StepNext) / back (StepFront), from normal speed: a player at another
  // speed first returns to normal. On success the player is in single-frame mode. Returns the
  // engine's result.
  int StepNext();
  int StepFront();

  // Plays on: a paused player resumes (engine Pause off); any other plays at normal speed
  // (engine Play). The state is playing afterwards, whatever the engine answered, unless the
  // player is idle. Returns 1.
  int Resume();

  // Called each second while paused or in single-frame mode. Returns the engine's result.
  int PausedTick();

  // Positions the window at ms milliseconds from the recording's first picture: the picture due
  // then is shown at once, and the player stays playing, paused or on a single frame. Returns
  // the engine's result (0: not playing a recording the engine reads itself).
  int Seek(int64_t ms);
  // Time of the picture on screen in ms from the recording's first picture, -1 when none.
  int64_t GetPictureTime();
  // The recording's length in seconds from its name (0 when idle or unknown).
  int GetDuration() const { return m_nDuration.load(); }

  // Progress in per cent, 0-100: 100 once the whole file was fed and shown; otherwise the
  // seconds played against the recording's duration from its name (a recording past midnight
  // ends on the next day), 0 when that duration is 0.
  int GetProgress();

  // Replaces what shows a snapshot to the user. The default opens the file with the desktop's
  // viewer for its type, when the program has a graphical application object.
  void SetFileViewer(FileViewer viewer);

 protected:
  // The feeding loop of one run.
  void ThreadProc() override;

 private:
  // Offers the file to the engine block by block, until its end or the run is stopped.
  void FeedLoop(CFSFile& file);
  // Sets the state unless the player is idle (rule 3); an idle player stays idle.
  void SetActiveState(int state);
  // Moves the engine's speed to target (already in range), step by step.
  void StepSpeedTo(int target);
  // The part of StepNext / StepFront after the return to normal speed.
  int StepFrame(int (CPlaybackEngine::*step)(int));
  // Debug check of the rules above.
  void CheckRules() const;
  // The picture a snapshot takes: the one on screen, else the last picture of an ended run.
  bool TakePicture(SnapshotPicture* picture);
  // On the player's thread, at the end of a run played to its end: keeps the picture on screen
  // and sets endPicture, or endNoPicture when there is none.
  void KeepLastPicture();
  // Forgets how the last run ended (endNone) and its last picture.
  void ForgetEnd();

  TvxFrameSink* const m_hPlayWnd;  // the window's frame sink; may be null
  const int m_nPort;               // engine port = window index
  CPlaybackEngine* const m_pEngine;
  FileViewer m_viewer;             // shows snapshots; user-interface thread

  std::string m_strPath;            // recording of the last Open; rule 4
  std::atomic<int> m_nState{0};     // stateIdle..stateSingleFrame; both threads
  std::atomic<int> m_nPlayStatus{0};// speed level; user-interface thread (read anywhere)
  std::atomic<int> m_nDuration{0};  // seconds, from the name; user-interface thread
  std::atomic<int64_t> m_nStartMs{0};  // where the run starts; rule 4 as for the path
  std::atomic<int> m_nFeedDone{0};  // 100 once the whole file was fed, else 0; both threads
  std::atomic<int> m_nEnded{0};     // endNone..endNoPicture; both threads
  std::mutex m_lastMutex;           // guards m_lastPicture
  SnapshotPicture m_lastPicture;    // the last picture of a run played to its end
};

// <folder>/<CCC>_<YYYY><MM><DD>_<file name> for a local record of `recording`.
std::string RecordFilePath(const std::string& folder, const RecordingName& recording);

