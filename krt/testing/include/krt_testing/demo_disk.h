// The demo disk: one day of a recorder with six cameras, as `./run` shows it.
//
// The day is data: demo_recordings() lists every recording with its channel, times, kind,
// partition, lap and stream, and demo_disk() turns that list into an image description for the
// builder. Tests compare what the library and the tools find on the image against this list
// (and against the builder's placement, demo_placements()).
//
// 2024-03-05, pack period 15 minutes (continuous recording is cut into files of 15 minutes
// counted from the start of a stretch):
//   08:00-08:45  CH 01-04 record continuously (CIF, 6 pictures a second) on idea0
//   08:45-08:50  power cut: nothing on any channel
//   08:50-09:20  CH 01-04 continue on idea0, which is then full:
//   09:20-09:35  the recorder goes on on idea1, over the older lap idea1 holds from the evening
//                before (CH 01-04 from 22:37:30 on 2024-03-04 to 00:07:30, the last files
//                running past midnight, and a motion event at 23:50)
//   09:35        the clock is set back 15 minutes, to 09:20: 09:20-09:35 is recorded again
//                (the same pictures: the clock shows the same times) and goes on to 09:50
//   events       motion (M) and alarm (A) recordings of 10 s to 2 min on CH 05 and CH 06
//                (D1, 25 pictures a second) at moments spread over the day
// CH 01 and CH 02 record sound (MP2 in the MPEG program stream); CH 01's files open with a
// two-sector "DHII" header; CH 06 writes raw H.264, the others program streams.
//
// Every recording holds pictures for its whole named span at a steady rate: the first picture
// shows the start time, picture k the start plus k / rate seconds, and the stream is cut into
// groups of pictures (GOPs) of kDemoGopSeconds, each opening with a key frame and padded to a
// fixed size (demo_gop_bytes), as a constant-rate recorder writes them. A file's size, and so
// the whole placement, follows from the list alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "krt_testing/image_builder.h"

namespace krt_testing {

// Picture formats of the demo's cameras.
enum class DemoPicture {
  kCif,  // 352 x 288, 6 pictures a second: continuous recording
  kD1,   // 704 x 576, 25 pictures a second: motion and alarm events
};

enum class DemoStream {
  kProgramStream,  // H.264 (and MP2 sound where the recording has sound) in an MPEG program stream
  kRawH264,        // the H.264 elementary stream alone (Annex B), no sound
};

// One recording of the demo disk.
struct DemoRecording {
  int partition = 0;       // partition index and table slot: 0 = idea0, 1 = idea1
  bool older_lap = false;  // in the partition's older lap, which the current lap partly overwrote
  uint8_t channel = 0;     // 0-based: CH 01 is 0
  uint32_t start = 0;      // packed clock time of its first picture
  uint32_t end = 0;        // packed clock time it ends: start + a whole number of GOPs
  uint8_t kind = 0;        // record type: 0 R (continuous), 1 A (alarm), 2 M (motion)
  DemoPicture picture = DemoPicture::kCif;
  DemoStream stream = DemoStream::kProgramStream;
  bool sound = false;      // MP2 sound besides the pictures (program streams only)
  bool header = false;     // opens with a two-sector "DHII" header
  uint32_t run = 0;        // write run: 1 after the clock was set back
};

// The moments of the day that the list shows (packed clock times).
struct DemoDay {
  uint32_t pack_seconds = 0;      // the recorder's pack period
  uint32_t power_off = 0;         // the power cut: no channel records from power_off to power_on
  uint32_t power_on = 0;
  uint32_t partition_change = 0;  // recordings from here on (current lap) are on idea1
  uint32_t clock_set_at = 0;      // the clock read clock_set_at when it was set back to clock_set_to
  uint32_t clock_set_to = 0;
};

inline constexpr uint32_t kDemoGopSeconds = 2;     // every GOP covers two seconds
inline constexpr uint32_t kDemoShortSeconds = 10;  // the length of a short demo's recordings
inline constexpr uint32_t kDemoHeaderSectors = 2;  // the "DHII" header of CH 01's files

// Width, height and pictures a second of a format.
int demo_width(DemoPicture p);
int demo_height(DemoPicture p);
int demo_rate(DemoPicture p);

// Seconds a recording covers (end - start).
uint32_t demo_seconds(const DemoRecording& r);

// Bytes of one GOP of a recording once padded (a multiple of 1024).
uint32_t demo_gop_bytes(const DemoRecording& r);

// Bytes of a recording's stream: its GOPs, padded (the "DHII" header not included).
uint64_t demo_stream_bytes(const DemoRecording& r);

// The day's moments.
DemoDay demo_day();

// Every recording of the demo disk: the current lap of idea0, then that of idea1, then idea1's
// older lap, each in the order the recorder started them (time, then channel). With
// `short_recordings` every recording is cut to its first kDemoShortSeconds (at most), for
// tests that need the day's shape but not its hours.
std::vector<DemoRecording> demo_recordings(bool short_recordings = false);

// The demo disk for the builder. `payloads` holds the stream bytes of each recording of
// demo_recordings(short_recordings), same order (a recording's file holds its header and then
// its bytes; a null entry leaves the file without data); empty gives every file the pattern
// payload instead. Recording sizes follow from
// the list (demo_stream_bytes) either way, so the placement does not depend on the payloads.
Disk demo_disk(const std::vector<std::shared_ptr<const std::vector<uint8_t>>>& payloads = {},
               bool short_recordings = false);

// Where the builder put each recording: one pointer per entry of `recordings` (the list
// demo_disk was made from) into `built` (its plan or build result); null where `built` does
// not hold it.
std::vector<const FilePlacement*> demo_placements(const BuildResult& built,
                                                  const std::vector<DemoRecording>& recordings);

// The path under /mnt of recording `r`, placed at `p`, with the builder's repeat number
// ("/mnt/idea0/2024-03-05/001/08.00.00-08.15.00[R][@52][0].h264"). The adapter opens it (by
// start time and first cluster); a listing may number the repeat differently, so to compare
// with listed names, compare up to the first cluster.
std::string demo_path(const DemoRecording& r, const FilePlacement& p);

}  // namespace krt_testing
