// CPlaybackEngine -- the calls a player makes into the playback engine.
//
// A player never calls the Tvx* functions directly: it goes through this interface, whose one
// real implementation, CTarnvoxEngine, forwards every call to the function of the same name in
// tarnvox (see tarnvox/tarnvox.h for what each one does). Tests put a stand-in behind it that
// logs the calls and answers as scripted.
//
// Contract every implementation keeps (it is what the player relies on):
//   - results are non-zero for success where the player tests them; the others are ignored;
//   - GetBufferedData is 0 exactly when everything fed to the port was shown, and
//     GetBufferValue(port, 3) is then 0 as well;
//   - calls for one port come from two threads: the player's feeding thread (Prepare,
//     OpenStream, SetStreamMode, Play, InputData, GetBufferedData, Stop, CloseStream) and the
//     user-interface thread (all the others, and Play, GetBufferedData and CloseStream too);
//     the implementation must accept them at the same time.
#pragma once

#include <tarnvox/tarnvox.h>

class CPlaybackEngine {
 public:
  virtual ~CPlaybackEngine() = default;

  // ---- feeding: called on the player's thread, in this order for one recording ----

  // Prepares the engine as a player thread starts; result ignored.
  virtual int Prepare() = 0;
  // Opens a stream on port with an input buffer of bufferSize bytes. Non-zero: opened.
  virtual int OpenStream(int port, const unsigned char* header, unsigned headerLength,
                         unsigned bufferSize) = 0;
  // Stream mode (1: a recording read from a file); result ignored.
  virtual int SetStreamMode(int port, int mode) = 0;
  // Shows the port in window at normal speed; also ends slow, fast and single-frame modes.
  // Non-zero: showing.
  virtual int Play(int port, TvxFrameSink* window) = 0;
  // Offers one block. Non-zero: taken; 0: no room now, offer the same block again later.
  virtual int InputData(int port, const unsigned char* data, unsigned length) = 0;
  // Amount of fed data not yet shown; 0 when all of it was shown.
  virtual unsigned GetBufferedData(int port) = 0;
  // Detail of the buffered data; which = 3: pictures waiting to be shown.
  virtual int GetBufferValue(int port, int which) = 0;
  // Whole seconds played since the stream's start.
  virtual unsigned GetPlayedSeconds(int port) = 0;
  // Lets the port read the recording itself through source (called before Play; the port then
  // takes no fed data and can be positioned with Seek). Non-zero: the port reads the source;
  // 0: the player feeds the port block by block instead.
  virtual int SetSource(int port, const TvxSource* source) = 0;
  // Stops showing; result ignored.
  virtual int Stop(int port) = 0;
  // Closes the stream and frees the port. Non-zero: closed.
  virtual int CloseStream(int port) = 0;

  // ---- commands: called on the user-interface thread while the port shows ----

  // Pause (on = 1) or resume (on = 0). Non-zero: done.
  virtual int Pause(int port, int on) = 0;
  // One speed step faster / slower; result ignored.
  virtual int Faster(int port) = 0;
  virtual int Slower(int port) = 0;
  // One frame on ("Next") / back ("Front") in single-frame mode. Non-zero: done.
  virtual int StepNext(int port) = 0;
  virtual int StepFront(int port) = 0;
  // Called each second while paused or in single-frame mode; result ignored.
  virtual int PausedTick(int port) = 0;
  // Positions a port that reads its source at ms milliseconds from the recording's first
  // picture. Non-zero: done.
  virtual int Seek(int port, int64_t ms) = 0;
  // Time of the picture on screen in ms from the recording's first picture, -1 none.
  virtual int64_t GetPictureTime(int port) = 0;
  // Sound of the port on / off. Non-zero: done.
  virtual int SoundOn(int port) = 0;
  virtual int SoundOff(int port) = 0;
  // Writes the picture on screen as a bitmap file at path. Non-zero: written.
  virtual int Snapshot(int port, const char* path) = 0;
  // The picture on screen at its own size, with its place in the stream. Non-zero: filled.
  virtual int GrabPicture(int port, TvxPicture* picture) = 0;
  // Also writes the stream, from the bytes decoded next on, into the file at path. Non-zero:
  // the file is open.
  virtual int StartRecord(int port, const char* path, int flag) = 0;
  // Ends the record; result ignored.
  virtual int StopRecord(int port) = 0;
};

// The real engine: each call goes to the tarnvox function of the same name.
class CTarnvoxEngine final : public CPlaybackEngine {
 public:
  // The one process-wide instance (it has no state of its own).
  static CTarnvoxEngine& Instance();

  int Prepare() override;
  int OpenStream(int port, const unsigned char* header, unsigned headerLength,
                 unsigned bufferSize) override;
  int SetStreamMode(int port, int mode) override;
  int Play(int port, TvxFrameSink* window) override;
  int InputData(int port, const unsigned char* data, unsigned length) override;
  unsigned GetBufferedData(int port) override;
  int GetBufferValue(int port, int which) override;
  unsigned GetPlayedSeconds(int port) override;
  int SetSource(int port, const TvxSource* source) override;
  int Stop(int port) override;
  int CloseStream(int port) override;
  int Pause(int port, int on) override;
  int Seek(int port, int64_t ms) override;
  int64_t GetPictureTime(int port) override;
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
  CTarnvoxEngine() = default;
};
