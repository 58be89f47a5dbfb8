// The demo recorder disk: a KRT disk image recorded the way a recorder records it.
//
// make_demo_disk creates a sparse image file, formats it with the library's own formatter and
// records several days of several channels through the library's writer (file_write.h), with a
// write hook that writes into that image file and nowhere else. The recorder's clock is the
// library's manual clock; the recording runs minute by minute:
//
//   - two partitions: idea0 (type 0) records every channel; idea1 (type 3) holds the mirror
//     of channel 002;
//   - every channel writes each minute; a file starts with a short clip (FFmpeg: H.264
//     704x576 with MP2 sound in an MPEG program stream, or raw H.264 for the even channels)
//     showing the channel and the file's date and time, and is continued with padding;
//     channel 001's files start with a two-sector "DHII" header;
//   - files are split by the pack period, which is chosen so that idea0 fills up and wraps
//     onto itself once (an older lap), and so that one file runs past midnight;
//   - on the first day at 02:00 the clock is set forward three hours (a gap), on the last day
//     at 13:00 back one hour (a collision).
//
// Every byte written to every recording is reported, so tests can read it back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace krtdemo {

struct DemoOptions {
  int days = 3;               // days of recording, 1..7
  int channels = 4;           // channels recorded, 1..16
  int pictures_per_clip = 10; // pictures of each file's clip
};

// One recording as written (the bytes of every write, in order).
struct DemoFile {
  int part = 0;                // partition (idea0 = 0, idea1 = 1)
  uint32_t first_cluster = 0;  // its first cluster
  int channel = 0;             // 0-based
  uint32_t start_time = 0;     // packed time of its first write
  uint32_t header_bytes = 0;   // bytes of its "DHII" header (hidden when read)
  bool overwritten = false;    // a later file took its cluster (the lap wrapped over it)
  std::vector<uint8_t> bytes;  // everything written, header included
};

struct DemoResult {
  bool ok = false;
  std::string error;            // why not, when !ok
  std::vector<DemoFile> files;  // every file written, in the order they were started
  uint32_t pack_minutes = 0;    // P of the splitting rule
  int disk_overs = 0;           // "DiskOver" events
  int time_changes = 0;         // "TimeChanged" events
};

// Limits of the options.
constexpr int kMaxDemoDays = 7;
constexpr int kMaxDemoChannels = 16;
constexpr int kMaxDemoClipPictures = 250;  // ten seconds of pictures

// Makes the demo disk at `path`. The path must not exist, or be a regular file of this user
// (it is then replaced); anything else is refused. Returns the result; on failure the image
// may be incomplete. Uses and leaves the library's global state (disks, hooks, clock) as a
// program would: the library is detached and its default hooks and clock are back afterwards.
DemoResult make_demo_disk(const std::string& path, const DemoOptions& options);

}  // namespace krtdemo
