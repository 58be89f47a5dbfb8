// What the record search tree asks of the window that holds it.
//
// The main window's playback commands (CPlaybackCommands) implement this; the tree's tests put a
// fake behind it. Paths are recording paths under "/mnt"
// ("/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264").
#pragma once

#include <array>
#include <string>

// Recordings to play together, one per video window: entry k goes to window k (channel k + 1
// of a synchronous playback); an empty entry leaves its window alone.
using SyncPlayTable = std::array<std::string, 32>;

class IRecordSearchParent {
 public:
  virtual ~IRecordSearchParent() = default;

  // Plays one recording in the focused video window. Returns 1 when a player took the path,
  // 0 when it was refused (an empty or malformed path, no focused window).
  virtual int PlayFile(const std::string& path) = 0;

  // Plays table entry i in video window i for every i below n whose entry is not empty
  // (0 <= n <= 32). Returns 1.
  virtual int PlayFiles(const SyncPlayTable& table, int n) = 0;

  // Switches to the smallest window layout of 4, 9, 16, 25 or 36 windows that holds n.
  virtual void SetLayoutForCount(int n) = 0;
};
