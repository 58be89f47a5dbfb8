// The recordings as the tool names them: a folder tree under "/mnt".
//
//   /mnt                                        every mounted partition of every disk
//   /mnt/idea0                                  partition: its recording days
//   /mnt/idea0/2010-03-05                       day: the channels with recordings that day
//   /mnt/idea0/2010-03-05/002                   channel: its recordings of that day
//   /mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264   one recording
//
// Every component follows the recording path grammar of krt/recording_path.h and is checked
// by its parsers; a path must begin with "/mnt" (one trailing "/" or more is allowed).
//
// A folder exists when it has something in it: a partition when it is mounted, a day when the
// partition's work-directory calendar marks it, a channel when a search of that channel and
// day finds a recording. Days come from the partition's "WorkDirectory", channels and
// recordings from searches through CFSFileFind, and recordings are read through CFSFile: the
// tool sees exactly what any other user of the virtual file table sees.
//
// Every function here needs the volume brought up (volume_startup) and runs on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "krt/recording_path.h"

// The levels of the tree, from the top.
enum class Level { kRoot, kPartition, kDay, kChannel, kRecording };

// A parsed tool path.
struct TreePath {
  Level level = Level::kRoot;
  krt::PartitionName partition{};  // from kPartition on
  int year = 0;                    // from kDay on
  int month = 0;                   //
  int day = 0;                     //
  int channel = 0;                 // from kChannel on: 0..63 (the folder name minus 1)
  krt::RecordingName recording{};  // kRecording only
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

// The folder names of the partition, day and channel components.
std::string partition_name(const krt::PartitionName& p);
std::string day_name(int year, int month, int day);
std::string channel_name(int channel);

// Lists the folder p names: the entries one level down, in ascending order (recordings in
// ascending start time). Returns true; false with error set when p is a recording or the folder
// does not exist (an unmounted partition, a day without recordings, a channel without
// recordings that day) or cannot be read.
bool list_folder(const TreePath& p, std::vector<TreeEntry>& out, std::string& error);

// Finds the recording p names in the listing of its channel folder. A name with a cluster field
// must name the first cluster of a recording of that channel and day; a name without one (or
// with cluster 0) is matched by its start time and repeat number. Returns true with out set to
// the listed entry; false with error saying why: no such partition, the cluster lies beyond the
// partition, the cluster is not the first cluster of a recording, the recording belongs to
// another folder, or the folder has no such recording.
bool find_recording(const TreePath& p, TreeEntry& out, std::string& error);

// Every recording under p, depth first in listing order (p itself when it is a recording).
// Returns true; false with error set as list_folder / find_recording do.
bool collect_recordings(const TreePath& p, std::vector<TreeEntry>& out, std::string& error);
