// Test support for the players: an engine stand-in that logs every call and answers as
// scripted, a "/mnt" that maps recording paths onto a local folder, and a wait helper.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <vfs/fileops.h>

#include "playbackengine.h"

namespace apptest {

// A playback engine that does nothing but log its calls ("Play(3,wnd)", "InputData(3,32768)",
// ...; the window is logged as "wnd" or "null") and answer from the fields below. Safe for calls
// from several threads.
class CEngineStandIn : public CPlaybackEngine {
 public:
  // Answers; each may be changed while a player runs.
  std::atomic<int> openStreamResult{1};
  std::atomic<int> playResult{1};
  std::atomic<int> closeStreamResult{1};
  std::atomic<int> pauseResult{1};
  std::atomic<int> stepResult{1};          // StepNext and StepFront
  std::atomic<int> snapshotResult{1};
  std::atomic<int> grabResult{1};          // GrabPicture: 1 gives a 4 × 4 grey picture at
  std::atomic<int64_t> grabPositionUs{0};  //   this position and index
  std::atomic<int64_t> grabIndex{0};
  std::atomic<int> startRecordResult{1};
  std::atomic<int> soundResult{1};         // SoundOn and SoundOff
  std::atomic<int> refuseInput{0};         // offers refused before the next one is taken;
                                           // negative: every offer is refused
  std::atomic<unsigned> buffered{0};       // GetBufferedData
  std::atomic<bool> holdDrain{false};      // while set, GetBufferedData answers the player
                                           // thread (the one that called Prepare) with 1
  std::atomic<int> bufferValue{0};         // GetBufferValue
  std::atomic<unsigned> playedSeconds{0};  // GetPlayedSeconds
  std::atomic<int64_t> pictureTime{-1};    // GetPictureTime

  // The calls so far, oldest first.
  std::vector<std::string> Calls() const;
  // The calls so far whose name is one of `names` (e.g. {"Play", "Faster", "Slower"}).
  std::vector<std::string> CallsOf(const std::vector<std::string>& names) const;
  // How many calls named `name` were made.
  size_t Count(const std::string& name) const;
  // Forgets the calls so far.
  void ClearCalls();
  // Every byte InputData took, in order.
  std::string Taken() const;

  int Prepare() override;
  int OpenStream(int port, const unsigned char* header, unsigned headerLength,
                 unsigned bufferSize) override;
  int SetStreamMode(int port, int mode) override;
  int Play(int port, TvxFrameSink* window) override;
  int InputData(int port, const unsigned char* data, unsigned length) override;
  unsigned GetBufferedData(int port) override;
  int GetBufferValue(int port, int which) override;
  unsigned GetPlayedSeconds(int port) override;
  int SetSource(int port, const TvxSource* source) override;  // logged; 0: fed
  int Stop(int port) override;
  int CloseStream(int port) override;
  int Seek(int port, int64_t ms) override;                      // logged; 1
  int64_t GetPictureTime(int port) override;                    // pictureTime
  int Pause(int port, int on) override;
  int Faster(int port) override;
  int Slower(int port) override;
  int StepNext(int port) override;
  int StepFront(int port) override;
  int PausedTick(int port) override;
  int SoundOn(int port) override;
  int SoundOff(int port) override;
  int Snapshot(int port, const char* path) override;
  int GrabPicture(int port, TvxPicture* picture) override;
  int StartRecord(int port, const char* path, int flag) override;
  int StopRecord(int port) override;

 private:
  // Logs name(args) and returns result.
  int Log(const std::string& name, const std::string& args, int result);

  mutable std::mutex m_mutex;
  std::vector<std::string> m_calls;  // m_mutex
  std::string m_taken;               // m_mutex
  std::thread::id m_playerThread;    // m_mutex
};

// A frame sink that drops every picture.
class CNullSink : public TvxFrameSink {
 public:
  QSize frameSize(QSize) const override { return {}; }
  void present(const QImage&) override {}
};

// A fresh local folder registered under the prefix "/mnt": a path "/mnt/X" opens the file
// <folder>/X. Removed, with the registration, on destruction. One at a time. A "/mnt" that an
// earlier test registered (the attached test disks) steps aside meanwhile and comes back after:
// lookups answer with the first entry of a prefix, so it would otherwise hide the folder.
class CMountedFolder {
 public:
  CMountedFolder();
  ~CMountedFolder();
  CMountedFolder(const CMountedFolder&) = delete;
  CMountedFolder& operator=(const CMountedFolder&) = delete;

  // The local folder.
  const std::filesystem::path& Root() const { return m_root; }
  // Writes content to "/mnt/" + rooted (folders made as needed); returns the "/mnt" path.
  std::string Put(const std::string& rooted, const std::string& content) const;

 private:
  std::filesystem::path m_root;
  std::optional<FileOps> m_previous;  // the "/mnt" registered before, if any
};

// Makes a recording with the ffmpeg command line: `ffmpeg -y ARGS FILE` with its output
// discarded. False when that failed (no ffmpeg, or one without the encoder asked for).
bool MakeWithFfmpeg(const std::string& args, const std::filesystem::path& file);

// Waits (up to 10 s, a guard against hangs, not a timing) until pred() holds.
bool Eventually(const std::function<bool()>& pred);

}  // namespace apptest
