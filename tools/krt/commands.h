// The commands of the `krt` tool. Each returns the process exit status (0 = success) and
// writes errors to standard error.
#pragma once

#include <string>
#include <vector>

// What follows the command name on the command line.
struct CommandArgs {
  bool json = false;               // --json: machine-readable output
  bool help = false;               // --help: describe the command
  std::vector<std::string> words;  // the remaining arguments, in order
};

// One entry of the command table.
struct Command {
  const char* name;                  // the word typed on the command line
  const char* summary;               // one line for the usage text
  int (*run)(const CommandArgs& a);  // the command
};

// Lists the recorder disks found: index, source path, capacity in sectors and GiB.
int cmd_disks(const CommandArgs& a);

// Prints, for every recorder disk, its version, its partition table and the parameter
// block of each partition, as the library reads them.
int cmd_partitions(const CommandArgs& a);
