// The demo recorder disk: a KRT disk image recorded the way a recorder records it.
//
// make_demo_disk creates a sparse image file, formats it with the library's own formatter and
// records several days of several channels through the library's writer (file_write.h), with a
// write hook that writes into that image file and nowhere else. The recorder's clock is the
// library's manual clock; the recording runs minute by minute:
//
//   - two partitions: idea0 (type 0) records every channel; idea1 (type 3) holds the mirror
//     of channel 002;
//   - every channel writes once a minute; a file's first write is a clip of several seconds
//     (FFmpeg: H.264 704x576 25 fps with MP2 sound in an MPEG program stream, or raw H.264
//     for the even channels) showing the channel and the recording's date, and its later
//     writes are padding; channel 001's files start with a two-sector "DHII" header. Each
//     channel's clip of a day is encoded once and starts all its files of that day, so the
//     encoding costs a few clips, not thousands;
//   - files are split by the pack period P (P minutes; neither a divisor nor a multiple of
//     60, so one file runs past midnight). Cluster size, P and partition size are chosen
//     together: the smallest cluster from options.cluster_sectors up, and the longest P, with
//     which the recording fills idea0 and wraps onto itself once, by about 3 %, so that the
//     older lap keeps most of the recording and every day shows. The defaults give idea0
//     about 3,000 clusters of 1 MiB; fewer channels or days take larger clusters (a partition
//     cannot be smaller than about 2.9 GiB, whose reserve holds the user-data area, and a
//     pack period is a minute or more);
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
  int channels = 8;           // channels recorded, 1..16
  int pictures_per_clip = 200;    // pictures of each file's clip (25 a second: 8 seconds)
  uint32_t cluster_sectors = 2048; // smallest cluster to use (sectors, a power of two; 1 MiB)
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
  uint32_t cluster_sectors = 0;    // sectors of a cluster
  uint64_t partition_sectors = 0;  // sectors of each partition
  uint32_t recording_clusters = 0; // clusters of each partition that take recordings
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
