// Helpers for the end-to-end tests of the `krt` tool: running the built tool as a child
// process, and the recorder disk images the tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "krt_testing/image_builder.h"
#include "krt_testing/scratch.h"

namespace tool_test {

namespace kb = krt_testing;

// What a run of the tool left behind.
struct ToolRun {
  int status;       // exit status; 128 + signal number when the tool was killed by a signal
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs the built tool with args (after "krt"), standard input from /dev/null. With
// err_on_terminal, standard error is a pseudo-terminal and err holds what was written to it.
ToolRun run_tool(const std::vector<std::string>& args, bool err_on_terminal = false);

// A temporary folder, removed with everything in it when the object goes: the image
// builder's scratch folder, with the folder-style accessors these tests use.
class TempDir : public krt_testing::ScratchDir {
 public:
  TempDir();
  const std::string& path() const { return dir(); }
  std::string operator/(const std::string& name) const { return ScratchDir::path(name); }
};

// The whole content of a local file ("" when it cannot be read).
std::string read_file(const std::string& path);

// Standard output of a shell command; empty when the command fails.
std::string shell(const std::string& command);

// `krt -d image args...`
ToolRun krt_on(const std::string& image, std::vector<std::string> args);

// The first entry of a folder's listing through the tool ("" when it lists nothing).
std::string first_entry(const std::string& image, const std::string& folder);

// One recording carrying a real stream, made with the ffmpeg command line.
struct StreamRecording {
  const char* name;         // for messages
  const char* ffmpeg;       // ffmpeg arguments that make its stream
  int channel;              // 0-based channel it is recorded on
  uint32_t header_sectors;  // "DHII" header before the stream
  int pictures;             // pictures in the stream
};

// A program stream with MP2 sound on channel 001, raw H.264 on 002, a program stream behind a
// header on 003.
extern const StreamRecording kStreamRecordings[3];

// The streams and a one-partition image holding each of them as a recording of 2010-03-05
// 08:00:00 on its channel, made once. Not ready when the ffmpeg command line with libx264 is
// missing.
class StreamImage {
  TempDir dir_;  // first: the image lives in it

 public:
  static const StreamImage& get();
  bool ready = false;
  std::string image;  // the image file

  // The stream file of a channel, as ffmpeg wrote it (padded to whole kilobytes).
  std::string stream(int channel) const;
  // The scratch folder the image and the streams are in.
  const TempDir& dir() const { return dir_; }
  // The /mnt path of the recording on a channel (from the tool's own listing).
  std::string recording_path(int channel) const;

 private:
  StreamImage();
};

// One recording as the image builder placed it.
struct Placed {
  int disk;                 // disk index
  int slot;                 // partition number
  const kb::File* file;     // as described
  const kb::FilePlacement* place;  // as built
};

// The shared images, built once: disk 0 with two partitions, disk 1 with one; read-only
// (mode 0444) so that every test also shows the tool never needs write access.
//   disk 0, partition 0: channels 0-2, 30-minute files 2010-03-04 22:00 .. 2010-03-05 03:00;
//                        channel 3 with a 3-sector "DHII" header, same times; a channel-4 file
//                        from 2010-03-04 23:45 to 2010-03-05 00:30 (past midnight).
//   disk 0, partition 1: channels 5 and 6, hourly files 2010-03-05 00:00 .. 06:00.
//   disk 1, partition 0: channel 0, two files on 2010-03-06; channel 1, one file of 4.7 MiB;
//                        channel 2, one file on 2010-03-07 whose read fails after 2 clusters.
class Images {
 public:
  static const Images& get();
  std::vector<std::string> paths;          // image files, disk 0 first
  std::vector<kb::Disk> disks;             // as described
  std::vector<kb::BuildResult> built;      // as built

  // "-d IMAGE" for every image, then args.
  std::vector<std::string> args(std::vector<std::string> args) const;

  // The recordings the builder placed that start on the day in that channel folder, in
  // ascending start time.
  std::vector<Placed> recordings(int disk, int slot, int year, int month, int day, int channel) const;

  // The listing name of a placed recording (the path grammar's file component).
  static std::string name(const Placed& r);

  // The size the listing gives: whole kilobytes of the file's sectors, less the header.
  static uint64_t size(const Placed& r);

 private:
  Images();
  TempDir dir_;
};

}  // namespace tool_test
