// Small recordings for the thread tests, made once per test program with the ffmpeg command line
// under a "/mnt" over a local folder.
#pragma once

#include <string>
#include <vector>

namespace apptest {

// Paths under "/mnt" of `count` short H.264 recordings (176 × 144, 25 pictures a second, 2 s,
// each its own colour), made in `mnt`'s folder. Empty when ffmpeg or its H.264 encoder is
// missing.
class CMountedFolder;
std::vector<std::string> MakeSmallRecordings(const CMountedFolder& mnt, int count);

}  // namespace apptest
