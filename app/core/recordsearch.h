// What the record search tree shows and does, without the tree control: the labels of each
// level, the copy job and the synchronous-playback table of a right-clicked item.
//
// The tree shows five kinds of items, each labelled by one path component:
//
//   kind 0  drive root   "PhysicalDrive<n> — <image>": the disk's drive number (its candidate
//                        position) and the file name of the image or device it is read from
//   kind 1  partition    "ide<letter><p>": letter 'a' + disk index, partition p (0-3)
//   kind 2  day          "YYYY-MM-DD"
//   kind 3  channel      "CCC": channel number 001-032 (disk 0) or 001-064 (other disks)
//   kind 4  recording    the file name as the listing gives it
//
// The items below a drive root, read from the partition down, form a partition-rooted path
// ("idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264"); "/mnt/" before it is a
// recording path. Every level is listed by the catalog library (catalog/listing.h) with the
// record calendar for disk 0 and each partition's work-directory calendar and a search per
// channel for the other disks, so root i lists disk i's own partitions.
//
// Every function needs the volume brought up (volume_startup) and runs on the user-interface
// thread.
#pragma once

#include <string>
#include <vector>

#include "copyjob.h"
#include "recordsearchparent.h"

namespace recordsearch {

// Item kinds, the integer each tree item carries.
enum Kind : int { kindDrive = 0, kindPartition = 1, kindDay = 2, kindChannel = 3, kindFile = 4 };

// The labels of the drive roots, one per attached disk in disk-index order.
std::vector<std::string> DriveLabels();

// One item below another, as the tree shows it.
struct ChildItem {
  std::string label;         // the path component
  std::string tooltip;       // the full recording name, or why a partition shows nothing
  bool unavailable = false;  // a partition the start-up refused or re-initialised: shown
                             // greyed, with nothing below it
};

// The children of an item as ChildLabels lists them, each with its tooltip; below a drive root
// also every partition the start-up did not mount as found and restored (not mounted, or
// re-initialised in memory and so shown empty), in partition order, unavailable, with the
// start-up's reason as its tooltip.
std::vector<ChildItem> ChildItems(int disk, const std::vector<std::string>& components);

// Whether every byte of the recording at the partition-rooted path reads as zero (see
// catalog/reader.h): a wiped or never-written stretch, no picture in it. False for a path that
// does not name a listed recording.
bool RecordingAllZero(const std::string& rooted);

// The labels of the children of an item: `disk` is the drive root's disk index and
// `components` the labels from the partition down to the item (empty for a drive root).
// Drive root: its partitions; partition: its days; day: its channels; channel: its recordings.
// Empty for a recording, a label that does not parse, or a folder that lists nothing.
std::vector<std::string> ChildLabels(int disk, const std::vector<std::string>& components);

// The copy job for the right-clicked item of `kind` (1-4) whose partition-rooted path is
// `rooted`: every recording under the partition, day or channel, or the one recording, with the
// sizes the listing gives. The job's folder is left empty. Empty for kind 0, a path that does
// not parse, or a folder or recording that no longer lists.
CCopyJob BuildCopyJob(int kind, const std::string& rooted);

// Fills table for a synchronous playback of the right-clicked item of `kind` and returns the
// count to hand over (0: nothing to play). Entry k holds the recording of channel k + 1 that
// starts at the same hour, minute and second as a reference recording; the count is the highest
// filled entry + 1, so each found channel plays in its own window. Channels without recordings
// that day are skipped.
//   kind 4: the reference is the item's own recording.
//   kind 2: the reference is the first recording of channel 1 that day that has a partner in
//           another channel; 0 when none has.
//   other kinds: 0.
int BuildSyncPlayTable(int kind, const std::string& rooted, SyncPlayTable& table);

// Full recording paths ("/mnt/...") of channel `channel` (1-64 as written) on `day`
// ("YYYY-MM-DD") in every partition of disk `disk`, partition by partition. Empty when none.
std::vector<std::string> ChannelRecordings(int disk, const std::string& day, int channel);

}  // namespace recordsearch
