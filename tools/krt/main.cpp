// The `krt` command-line tool.
//
//   krt [-d IMAGE]... COMMAND [ARGS]
//
// Global options name the disk images to look at first (before VENDREL_DISKS, the Disks/
// folder and the block devices). Each command is one entry of the table below; errors go to
// standard error with a non-zero exit status.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "krt/disk.h"

namespace {

const Command kCommands[] = {
    {"disks", "recorder disks found: index, source, capacity", cmd_disks},
    {"partitions", "partition table and parameter block of every partition", cmd_partitions},
};

void usage(FILE* out) {
  std::fprintf(out, "usage: krt [-d IMAGE]... COMMAND [--json] [ARGS]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> images;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "-d") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "krt: -d needs an image path\n");
        return 2;
      }
      images.push_back(argv[++i]);
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return 0;
    } else {
      break;
    }
  }
  if (i >= argc) {
    usage(stderr);
    return 2;
  }
  krt::set_disk_candidates(images);
  const char* name = argv[i];
  for (const Command& c : kCommands) {
    if (std::strcmp(c.name, name) == 0) {
      CommandArgs args;
      for (int k = i + 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--json") == 0) args.json = true;
        else if (std::strcmp(argv[k], "--help") == 0) args.help = true;
        else args.words.push_back(argv[k]);
      }
      if (args.help) {
        std::printf("krt %s: %s\n", c.name, c.summary);
        return 0;
      }
      return c.run(args);
    }
  }
  std::fprintf(stderr, "krt: unknown command '%s'\n", name);
  usage(stderr);
  return 2;
}
