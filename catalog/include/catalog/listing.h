// The recordings of every attached recorder disk as a folder tree under "/mnt".
//
//   /mnt                                        every mounted partition of every disk
//   /mnt/idea0                                  partition: its recording days
//   /mnt/idea0/2010-03-05                       day: the channels with recordings that day
//   /mnt/idea0/2010-03-05/002                   channel: its recordings of that day
//   /mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264   one recording
//
// Every component follows the recording path grammar of krt/recording_path.h and is read by
// its component parsers, one component at a time; a path must begin with "/mnt" (one trailing
// "/" or more is allowed). The `krt` tool, the viewer's record tree and its copy job all list
// through this unit, so they see the same days, channels and recordings.
//
// Where the levels come from (Source):
//   kWorkDirectory   partitions: the mounted partitions of each disk (driver table);
//                    days: the partition's "WorkDirectory" calendar; channels: a search of
//                    each of the 64 channels of that day; recordings: a search of the channel.
//   kRecordCalendar  disk 0 as the viewer's tree shows it: partitions whose bit is set in the
//                    record calendar's partition mask, days whose day mask is not 0, channels
//                    from the bits 0..31 of the day mask (channel b + 1 for bit b). Every other
//                    disk, which the record calendar does not describe, as kWorkDirectory.
// Recordings always come from a search of the channel through CFSFileFind, and recordings are
// read through CFSFile: the listing sees exactly what any other user of the virtual file table
// sees.
//
// Every function here needs the volume brought up (volume_startup). Functions take the library
// lock where they read library state; a volume start-up rerun between two calls makes later
// listings reflect the new disks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "krt/recording_path.h"

// The levels of the tree, from the top.
enum class Level { kRoot, kPartition, kDay, kChannel, kRecording };

// Where partitions, days and channels come from (see the top of this file).
enum class Source { kWorkDirectory, kRecordCalendar };

// A parsed tree path.
struct TreePath {
  Level level = Level::kRoot;
  krt::PartitionName partition{};  // from kPartition on
  int year = 0;                    // from kDay on
  int month = 0;                   //
  int day = 0;                     //
  int channel = 0;                 // from kChannel on: 0..63 (the folder name minus 1)
  krt::RecordingName recording{};  // kRecording only (its dir fields match the ones above)
  std::string text;                // the path as given, without trailing "/"
};

// A listed entry of a folder.
struct TreeEntry {
  std::string name;  // the entry's own component ("idea0", "2010-03-05", "002", a recording name)
  std::string path;  // its full path under /mnt
  uint64_t size;     // recordings: size in bytes as the search reports it; folders: 0
};

// Parses path (see the top of this file). Returns true and fills out; false with error set to
// a message that names the first component that does not follow the grammar (overlong
// components are shown shortened).
bool parse_tree_path(const std::string& path, TreePath& out, std::string& error);

// Parses the components below "/mnt" one by one (a partition-rooted path split at "/": the
// first is a partition, then a day, a channel and a recording; up to four). Returns true and
// fills out (its text is "/mnt/" and the components joined); false when a component does not
// follow the grammar or there are more than four.
bool parse_tree_components(const std::vector<std::string>& components, TreePath& out);

// The folder names of the partition, day and channel components.
std::string partition_name(const krt::PartitionName& p);
std::string day_name(int year, int month, int day);
std::string channel_name(int channel);

// The full path of p's folder at the given level ("/mnt", "/mnt/idea0", ...; up to kChannel).
std::string folder_path(const TreePath& p, Level level);

// The partitions of disk (0..31) in partition order, as source lists them. Empty for a disk
// that is not attached or has no partition to list.
std::vector<krt::PartitionName> list_partitions(int disk, Source source = Source::kWorkDirectory);

// Lists the folder p names: the entries one level down, in ascending order (recordings in
// ascending start time). Returns true; false with error set when p is a recording or the folder
// does not exist (an unmounted partition, a day without recordings, a channel without
// recordings that day) or cannot be read.
bool list_folder(const TreePath& p, std::vector<TreeEntry>& out, std::string& error,
                 Source source = Source::kWorkDirectory);

// Finds the recording p names in the listing of its channel folder. A name with a cluster field
// must name the first cluster of a recording of that channel and day; a name without one (or
// with cluster 0) is matched by its start time and repeat number. Either way every other field
// of the name (start and end clock, record type, repeat number, extension) must be the
// recording's: a loose name is "no such recording", with the name the recording has. Returns true with out set to
// the listed entry; false with error saying why: no such partition, the cluster lies beyond the
// partition, the cluster is not the first cluster of a recording, the recording belongs to
// another folder, or the folder has no such recording.
bool find_recording(const TreePath& p, TreeEntry& out, std::string& error);

// Every recording under p, depth first in listing order (p itself when it is a recording).
// Folders below p that turn out empty (a channel the record calendar marks but whose search
// finds nothing) add nothing. Returns true; false with error set when p itself does not list
// (as list_folder / find_recording say) or a folder below it cannot be read.
bool collect_recordings(const TreePath& p, std::vector<TreeEntry>& out, std::string& error,
                        Source source = Source::kWorkDirectory);
