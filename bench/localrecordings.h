// Local files played by players under recording names.
//
// A player opens only recording paths under "/mnt" (it reads the channel and the clock times out
// of the name). While a CLocalRecordings lives it answers "/mnt" in the virtual file table: each
// name it handed out opens the local file it stands for; every other path under "/mnt" fails to
// open. One object at a time; Serve belongs to one thread, opening may happen on any.
#pragma once

#include <string>

namespace benchsupport {

class CLocalRecordings {
 public:
  // Registers "/mnt" in the virtual file table (until destruction).
  CLocalRecordings();
  // Unregisters "/mnt"; close the files opened through it first.
  ~CLocalRecordings();
  CLocalRecordings(const CLocalRecordings&) = delete;
  CLocalRecordings& operator=(const CLocalRecordings&) = delete;

  // True when "/mnt" was registered.
  bool ok() const { return m_bRegistered; }

  // The recording path that opens `file`: channel `channel` (1-64) of partition idea0 on
  // 2010-03-05, from 08:00:00 for `seconds` (kept within a day), e.g.
  //   /mnt/idea0/2010-03-05/003/08.00.00-08.00.10[R][@1][0].h264
  // Serving a second file under the same channel and length replaces the first.
  std::string Serve(const std::string& file, int channel, int seconds);

 private:
  bool m_bRegistered = false;
};

}  // namespace benchsupport
