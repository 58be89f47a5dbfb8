// Recordings for the benchmark programs, made with the ffmpeg command line at run time, and the
// scratch folders they live in.
#pragma once

#include <string>
#include <vector>

namespace benchsupport {

// Runs a program (found on PATH) with arguments, its output discarded. True when it exits with 0.
bool RunQuiet(const std::vector<std::string>& args);

// Makes a fresh folder $TMPDIR/<name>-XXXXXX (/tmp when TMPDIR is unset). Its path, or "" when it
// cannot be made.
std::string MakeScratchFolder(const std::string& name);

// Removes a folder made by MakeScratchFolder with everything in it. Nothing for "".
void RemoveScratchFolder(const std::string& dir);

// Writes `seconds` of a recording as recorders write it to path: an MPEG program stream with
// H.264 704×576 at 25 frames per second (x264, about 2 Mbit/s, B pictures, a key frame every 2 s)
// and MP2 sound. Each call with the same `pattern` makes the same pictures; patterns 0-3 give
// four different moving test pictures. True when ffmpeg with libx264 made the file.
bool MakeRecorderStream(const std::string& path, int seconds, int pattern = 0);

}  // namespace benchsupport
