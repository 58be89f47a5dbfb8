// The commands of the `krt` tool, one source file each (cmd_<name>.cpp). Each returns the
// process exit status (session.h: 0 success, 1 failure, 2 usage) and writes errors to standard
// error, output to standard output.
#pragma once

#include <string>
#include <utility>
#include <vector>

// What follows the command name on the command line.
struct CommandArgs {
  bool json = false;               // --json: machine-readable output
  std::vector<std::string> words;  // the remaining arguments, in order
  std::vector<std::pair<std::string, std::string>> values;  // options with a value ("--days", "3")
};

// One entry of the command table.
struct Command {
  const char* name;                  // the word typed on the command line
  const char* synopsis;              // arguments, for the usage text ("PATH... DIR")
  const char* summary;               // one line for the usage text
  const char* help;                  // what `krt NAME --help` adds: the output, the details
  bool json;                         // whether --json is accepted
  int min_words;                     // arguments needed at least
  int max_words;                     // arguments taken at most; -1 = any number
  int (*run)(const CommandArgs& a);  // the command
};

// disks: the recorder disks found: index, source, capacity.
int cmd_disks(const CommandArgs& a);

// partitions: every disk's version, partition table and parameter blocks as read back.
int cmd_partitions(const CommandArgs& a);

// info: the driver tables after mounting (dump_driver_tables).
int cmd_info(const CommandArgs& a);

// calendar: the record calendar of the first disk: days and channels per partition.
int cmd_calendar(const CommandArgs& a);

// ls [PATH]: the folder tree under /mnt (tree.h).
int cmd_ls(const CommandArgs& a);

// timeline [--day YYYY-MM-DD] [PATH]: each channel's recorded spans of a day (catalog/coverage.h).
int cmd_timeline(const CommandArgs& a);

// cat PATH...: the bytes of recordings to standard output.
int cmd_cat(const CommandArgs& a);

// export PATH... DIR: copies recordings into DIR/idea0/... and writes DIR/SHA256SUMS.
int cmd_export(const CommandArgs& a);

// locate [-c CHANNEL] MOMENT: per channel, the recording holding the moment and the seconds
// into it.
int cmd_locate(const CommandArgs& a);

// frames [--backward] PATH: one framemd5 line per picture the playback engine decodes from a
// recording (built with the engine only: KRT_TOOL_FRAMES).
int cmd_frames(const CommandArgs& a);

// mount MOUNTPOINT [-f | --background]: the recordings as a read-only FUSE file system.
int cmd_mount(const CommandArgs& a);

// verify IMAGE [--sha256 HEX]: checks a set's segments, an E01 set's stored digests and a given
// SHA-256 against the image's data.
int cmd_verify(const CommandArgs& a);

// mkdemo IMAGE [--force] [--short] [--workers N]: makes the demo recorder disk image.
int cmd_mkdemo(const CommandArgs& a);
