// The `krt` command-line tool.
//
//   krt [-v] [--io-trace FILE] [-d IMAGE]... COMMAND [--json] [ARGS]
//
// Global options name the disk images to examine (only those when any are named; otherwise
// VENDREL_DISKS, the Disks/ folder and the block devices), how to open them (-i, -o) and how
// much the library says (-v). Each command is one entry of the table below and one source
// file (cmd_<name>.cpp). Output goes to standard output; errors, and the library's warnings,
// go to standard error with a non-zero exit status (1 when a command fails, 2 for a wrong
// command line). Every command answers --help.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "commands.h"
#include "image_options.h"
#include "krt/disk.h"
#include "krt/ewf_source.h"
#include "krt/io_trace.h"
#include "krt/log.h"
#include "session.h"
#include "wall_clock.h"
#include "catalog/clock_offset.h"
#include "catalog/text.h"

namespace {

const Command kCommands[] = {
    {"disks", "", "recorder disks found: index, source, format, capacity",
     "One line per disk: index, the image or device it was found at, its format (device, raw,\n"
     "split raw, E01) and number of segment files, capacity in sectors and GiB. A split raw\n"
     "image (NAME.001, NAME.002, ...; NAME.000, ...; NAME.aa, NAME.ab, ...) or an E01 set is\n"
     "named by its first segment. A set with a missing or unreadable segment is refused with a\n"
     "message naming that segment (exit status 1). With --json: an array of {index, drive,\n"
     "source, format, segments, bytes, sectors}.\n"
     "When no disk is found, standard error says for each candidate why it was not taken\n"
     "(not a recorder disk, permission denied, cannot be opened, refused) and, for a disk the\n"
     "user may not read, which group may.\n",
     true, 0, 0, cmd_disks},
    {"partitions", "", "partition table and parameter block of every partition",
     "For every disk: its version, each partition's place and size, and the fields of its\n"
     "parameter block as stored on the disk (before mounting changes anything). With --json:\n"
     "an array of {disk, source, version, partitions: [{partition, start, sectors,\n"
     "parameter_block: {type, status, ...} or null}] or null when the table is unreadable}.\n",
     true, 0, 0, cmd_partitions},
    {"info", "", "the driver tables after mounting",
     "Mounts every partition, says for each how it came up (mounted as found, restored after\n"
     "an unclean stop, re-initialised in memory because it would not mount, or not mounted)\n"
     "and why, then prints the four diagnostic tables of the driver table:\n"
     "basic parameters, operation parameters (\"*\" marks a work driver), the time chart and\n"
     "the time sections. With --json: an array with one object per mounted partition.\n",
     true, 0, 0, cmd_info},
    {"calendar", "", "days and channels of the first disk",
     "The record calendar of disk 0: one line per partition and day,\n"
     "  idea0<TAB>2010-03-05<TAB>001 002 003\n"
     "listing the channels with a recording that starts that day. The calendar keeps 32 channel\n"
     "bits: channels 033-064 are shown as 001-032. With --json: an array of\n"
     "{partition, days: [{date, channels: [numbers]}]}.\n",
     true, 0, 0, cmd_calendar},
    {"ls", "[-r] [--csv | --bodyfile] [--hash] [PATH]", "list a folder of the recordings (default /mnt)",
     "  /mnt                           every mounted partition of every disk (idea0, idea2, ideb0...)\n"
     "  /mnt/idea0                     its recording days (YYYY-MM-DD)\n"
     "  /mnt/idea0/2010-03-05          the channels with recordings that day (001..064)\n"
     "  /mnt/idea0/2010-03-05/002      the recordings, in ascending start time, one per line:\n"
     "                                 NAME<TAB>SIZE-IN-BYTES\n"
     "Recording names read HH.MM.SS-HH.MM.SS[T][@cluster][repeat].h264 (or .jpg): start and\n"
     "end clock time, record type, first cluster in hexadecimal, repeat number. With --json:\n"
     "an array of {name, path} ({name, path, size, start} for recordings).\n"
     "-r lists every recording under PATH instead, one line each: PATH<TAB>SIZE (<TAB>SHA256\n"
     "with --hash, which reads each recording as cat does). --csv writes them as CSV with a\n"
     "header line: start,end,channel,kind,disk,partition,first_cluster,size,path[,sha256]; the\n"
     "times are the recorder's clock (no zone). --bodyfile writes the body file of timeline\n"
     "tools: HASH|PATH|FIRST-CLUSTER|r/r--r--r--|0|0|SIZE|0|START|END|START, the times in\n"
     "seconds since 1970 reading the recorder's clock as this machine's local time, as the\n"
     "mount shows them, HASH the SHA-256 with --hash, else 0.\n",
     true, 0, 1, cmd_ls},
    {"locate", "[-c CHANNEL] 'YYYY-MM-DD HH:MM:SS'", "the recording of each channel at a moment",
     "One line per channel with a recording that day (or the channel given with -c):\n"
     "  002<TAB>/mnt/idea0/2010-03-05/002/NAME<TAB>SECONDS-INTO-IT\n"
     "  003<TAB>nothing recorded at 2010-03-05 08:05:30\n"
     "searching every partition of every disk (a recording may start the day before). Times\n"
     "are the recorder's clock as in the names; with --clock-offset the moment is the true\n"
     "time, turned into each disk's clock by its offset. When the clock was set back, the first\n"
     "recording listed that holds the moment is named. With --json: one object a line,\n"
     "{channel, path (null when nothing), offset_s (null when nothing)}.\n",
     true, 1, 1, cmd_locate},
    {"timeline", "[--day YYYY-MM-DD] [PATH]", "each channel's recorded spans of a day",
     "For every day (or the one --day names) of every disk (or the disk, partition, day or\n"
     "channel PATH names, as `krt ls` paths): one row per channel of 96 quarters of an hour,\n"
     "  001  ....########MMMM####....\n"
     "marked by the kind of recording that covers them (# regular, M motion, A alarm, C and H\n"
     "the other type letters, ! damaged: listed with nothing to read; events win a quarter\n"
     "they share with regular recording), then each span: channel, start-end, kind and its\n"
     "number of recordings. Consecutive recordings of a channel and kind form one span when\n"
     "each starts at most 1 s after the span's end (a clock set back makes them overlap: they\n"
     "still join, and a span never runs backwards); a recording running past midnight counts\n"
     "on both days, its times clipped to the day (00:00:00 to 24:00:00). Times are the\n"
     "recorder's clock, corrected by --clock-offset when given. With --json: one object a\n"
     "line, {disk, partition (of the span's first recording), day, channel (from 1), start,\n"
     "end, kind, recordings}. A folder that does not list is named on standard error (exit\n"
     "status 1) and the rest is still shown.\n",
     true, 0, 1, cmd_timeline},
    {"cat", "PATH...", "write recordings to standard output",
     "Writes the bytes of each recording named (a header at its start is left out), one after\n"
     "the other, exactly as a program reading it through the file interface gets them. A name\n"
     "names a recording only when every field of it (times, kind, cluster, repeat, extension)\n"
     "is the recording's; otherwise \"no such recording\", with the name it has.\n",
     false, 1, -1, cmd_cat},
    {"export", "[--mp4] [--hash-source] PATH... DIR", "copy recordings, channels, days or partitions into DIR",
     "Copies every recording under each PATH (/mnt, a partition, a day, a channel or one\n"
     "recording) to DIR/idea0/2010-03-05/002/NAME, creating the folders, dated with the\n"
     "recording's start (as the mount dates it). DIR may not be /mnt or lie in a partition\n"
     "folder under it (those are recording paths). An existing file of\n"
     "that name is replaced once its new copy is complete. Writes DIR/SHA256SUMS (kept\n"
     "lines of earlier exports, new lines for these files) for `cd DIR && sha256sum -c\n"
     "SHA256SUMS`, and DIR/manifest.json: the command line, version, start and end time (UTC)\n"
     "and clock offset of this export; the sources, each with an id, absolute path, format,\n"
     "segments and size (and its SHA-256 with --hash-source, which reads every source image\n"
     "whole); per file the recording, its source's id, disk, partition, clusters and sector\n"
     "ranges it was read from, the header bytes left out of them and the exact byte ranges\n"
     "whose `dd ... iflag=skip_bytes,count_bytes` gives its SHA-256, start and end time, size\n"
     "and SHA-256 (merged with those of earlier exports); and the recordings not copied, with\n"
     "why. Shows a progress bar on standard error when that is a terminal. Recordings that\n"
     "cannot be copied are said once per cause with their count (\"3 of 9 recordings not\n"
     "copied: ...\"); the others are still copied (exit status 1).\n"
     "With --mp4 each recording is remuxed, without re-encoding, into NAME with the extension\n"
     ".mp4: its video as recorded, its sound where MP4 can carry it (otherwise left out, and\n"
     "said so), time stamps from zero and the recording's start as the file's creation time. A\n"
     "recording that cannot be remuxed is reported and no file is left for it.\n",
     false, 2, -1, cmd_export},
    {"mount", "MOUNTPOINT [-f | --background]", "the recordings as a read-only file system",
     "Mounts the recordings of every attached disk at MOUNTPOINT with FUSE. MOUNTPOINT must be\n"
     "an empty folder that is no mount point yet (anything else is refused); a relative one is\n"
     "made absolute first, so the unmount at the end finds it:\n"
     "  MOUNTPOINT/idea0/2010-03-05/002/NAME\n"
     "laid out as `krt ls` shows them, each recording a file of its listed size whose bytes are\n"
     "those `krt cat` writes, so any player or tool can read it. Nothing can be changed: every\n"
     "write, new file, removal, rename or change of mode, owner or time fails with EROFS\n"
     "(\"Read-only file system\"). Runs in the foreground (-f) until the file system is\n"
     "unmounted (fusermount3 -u MOUNTPOINT) or the tool is interrupted, which unmounts it;\n"
     "--background returns once it is mounted. Needs /dev/fuse and the right to mount.\n",
     false, 1, 1, cmd_mount},
    {"verify", "IMAGE [--sha256 HEX]", "check an image set against what it says of itself",
     "Reads every byte of the disk IMAGE holds (a raw image, the first segment of a split set\n"
     "or of an E01 set) once. A split set must have all its segments, each before the last as\n"
     "long as the first; an E01 set all its segments, undamaged, and the MD5 and SHA-1 it\n"
     "stores must be those of its data (checked through libewf, chunk by chunk). Prints the\n"
     "format, segments and size, each stored digest with the data's and \"matches\" or\n"
     "\"DIFFERS\", each read error with its sector and length, the data's SHA-256 (compared\n"
     "with HEX when --sha256 is given), and \"verified\" or \"FAILED\". Exit status 0 only when\n"
     "everything matches. Reads the whole image: as long as a copy of it takes.\n",
     false, 1, 1, cmd_verify},
#ifdef KRT_TOOL_MKDEMO
    {"mkdemo", "IMAGE [--force] [--short] [--workers N]", "make a demo recorder disk image",
     "Makes a new sparse disk image of a recorder's day (2024-03-05, six cameras): CH 01-04\n"
     "record continuously (H.264 CIF, 6 pictures a second; sound on CH 01 and 02) in files of\n"
     "15 minutes, CH 05 and 06 motion and alarm events (D1, 25 a second); a power cut, the\n"
     "change from the full idea0 to idea1, an older lap on idea1 partly overwritten, and the\n"
     "clock set back a quarter of an hour. Every picture shows its channel, date and time.\n"
     "--short cuts every recording to 10 seconds; --workers N runs N encoders at once (default:\n"
     "one per processor). Prints what it made. An existing IMAGE is replaced only with --force\n"
     "and only when it is a regular file of yours.\n",
     false, 1, 1, cmd_mkdemo},
#endif
#ifdef KRT_TOOL_FRAMES
    {"frames", "[--backward] PATH", "the decoded pictures of a recording, one framemd5 line each",
     "Runs the recording through the playback engine with no window at unlimited speed and\n"
     "prints one line per decoded video picture in the form of FFmpeg's framemd5 output (the\n"
     "last column is the MD5 of the picture in its native pixel format), to compare with\n"
     "`krt cat PATH | ffmpeg -i - -map 0:v:0 -f framemd5 -`. PATH is a recording under /mnt\n"
     "or a local file. Fails when no picture can be decoded.\n"
     "--backward: starts at the recording's last picture and steps back to its first through the\n"
     "engine's single frames back, one line per picture shown: the lines of a forward run in\n"
     "reverse order, with falling times (compare with `| tac`). Reads the recording into memory.\n",
     false, 1, 1, cmd_frames},
#endif
};

const Command* find_command(const char* name) {
  for (const Command& c : kCommands) {
    if (std::strcmp(c.name, name) == 0) return &c;
  }
  return nullptr;
}

void usage(FILE* out) {
  std::fprintf(out,
               "usage: krt [-v] [--io-trace FILE] [-i raw|split|ewf] [-o SECTORS] [-d IMAGE]... [--clock-offset [D=]±HH:MM:SS]... [--tz ZONE] COMMAND [--json] [ARGS]\n"
               "       krt --version\n\n"
               "  -d IMAGE   examine this disk image (may be repeated; without -d: the images in\n"
               "             VENDREL_DISKS, the Disks/ folder and the block devices). IMAGE is a raw\n"
               "             image or the first segment of a split raw image (NAME.001, NAME.000 or\n"
               "             NAME.aa) or of an E01 set (NAME.E01). Only the images named are examined: each one\n"
               "             that is not a usable recorder disk is an error, with its reason. An E01\n"
               "             segment is also recognised by its content, whatever its name\n"
               "  -i FORMAT  open every image as raw, split (first segment NAME.001, .000 or .aa) or ewf\n"
               "             (an E01 set) instead of recognising its format\n"
               "  -o SECTORS the recorder disk starts this many 512-byte sectors into each image\n"
               "  -v         print the library's own log lines with its trace and info lines\n"
               "             (otherwise each warning once, as \"krt: warning: ...\")\n"
               "  --io-trace FILE\n"
               "             write every disk read (disk, first sector, sectors, microseconds)\n"
               "             to FILE, for bench/io_model (also VENDREL_IO_TRACE=FILE); with\n"
               "             KRT_EMULATE_DISK=hdd or ssd reads take as long as on such a disk\n"
               "  --clock-offset [D=]±HH:MM:SS\n"
               "             the recorder's clock minus the true time (at most 24 h), for every\n"
               "             disk or for disk D (as `krt disks` numbers them): the times timeline\n"
               "             shows are corrected by it; names and paths stay the recorder's own\n"
               "  --tz ZONE  the recorder's clock is the local time of ZONE (Europe/Berlin, or\n"
               "             +01:00): the moments of mount times, exported files' times, --bodyfile\n"
               "             and the MP4 creation time are worked out in it; without it, in this\n"
               "             machine's zone. Names and --csv times stay the recorder's own clock\n"
               "  --version  the tool's version\n\n"
               "commands:\n");
  for (const Command& c : kCommands) {
    const std::string call = concat({c.name, " ", c.synopsis});
    std::fprintf(out, "  %-20s %s\n", call.c_str(), c.summary);
  }
  std::fprintf(out, "\n'krt COMMAND --help' describes a command. Exit status: 0 done, 1 failed (a failed "
                    "write to standard output too), 2 wrong usage. With --json, errors are {\"error\": ...} "
                    "lines on standard error.\n");
}

void command_help(const Command& c) {
  std::printf("usage: krt [-d IMAGE]... %s%s %s\n\n%s.\n\n%s", c.name, c.json ? " [--json]" : "",
              c.synopsis, c.summary, c.help);
}

// Options that take a value, per command.
struct ValueOption {
  const char* command;
  const char* option;
};
constexpr ValueOption kValueOptions[] = {
    {"verify", "--sha256"}, {"mkdemo", "--workers"}, {"locate", "-c"}, {"timeline", "--day"}};

// Options without a value, per command: they are handed on with an empty value.
constexpr ValueOption kFlagOptions[] = {{"mount", "-f"}, {"mount", "--foreground"},
                                        {"mount", "--background"}, {"export", "--mp4"},
                                        {"export", "--hash-source"}, {"mkdemo", "--force"},
                                        {"mkdemo", "--short"}, {"ls", "-r"}, {"ls", "--csv"},
                                        {"ls", "--bodyfile"}, {"ls", "--hash"}, {"frames", "--backward"}};

bool listed(const ValueOption* begin, const ValueOption* end, const Command& c, const char* option) {
  for (const ValueOption* v = begin; v != end; ++v) {
    if (std::strcmp(v->command, c.name) == 0 && std::strcmp(v->option, option) == 0) return true;
  }
  return false;
}

bool takes_value(const Command& c, const char* option) {
  return listed(std::begin(kValueOptions), std::end(kValueOptions), c, option);
}

bool is_flag(const Command& c, const char* option) {
  return listed(std::begin(kFlagOptions), std::end(kFlagOptions), c, option);
}

// Splits the words after the command name into options and arguments. Returns kExitOk, or
// kExitUsage after the message; help is set when --help was given.
int parse_command_args(const Command& c, int argc, char** argv, CommandArgs& args, bool& help) {
  bool options = true;
  for (int k = 0; k < argc; ++k) {
    const char* w = argv[k];
    if (options && std::strcmp(w, "--") == 0) {
      options = false;
    } else if (options && (std::strcmp(w, "--help") == 0 || std::strcmp(w, "-h") == 0)) {
      help = true;
    } else if (options && std::strcmp(w, "--json") == 0 && c.json) {
      args.json = true;
    } else if (options && is_flag(c, w)) {
      args.values.emplace_back(w, "");
    } else if (options && takes_value(c, w)) {
      if (k + 1 >= argc) return usage_error(c.name, concat({w, " needs a value"}));
      args.values.emplace_back(w, argv[++k]);
    } else if (options && w[0] == '-' && w[1] != '\0') {
      return usage_error(c.name, concat({"unknown option '", w, "' for ", c.name}));
    } else {
      args.words.push_back(w);
    }
  }
  const int n = int(args.words.size());
  if (!help && n < c.min_words) return usage_error(c.name, concat({c.name, " needs ", c.synopsis}));
  if (!help && c.max_words >= 0 && n > c.max_words)
    return usage_error(c.name, concat({"too many arguments for ", c.name}));
  return kExitOk;
}

// Reads a --clock-offset value, "[D=]±HH:MM:SS", into the session. Returns whether it has that
// form.
bool read_clock_offset(const std::string& value) {
  int disk = -1;
  std::string_view offset = value;
  if (const size_t eq = value.find('='); eq != std::string::npos) {
    const std::string number = value.substr(0, eq);
    if (number.empty() || number.size() > 2 || number.find_first_not_of("0123456789") != std::string::npos) return false;
    disk = std::stoi(number);
    if (disk >= krt::kMaxDisks) return false;
    offset.remove_prefix(eq + 1);
  }
  const std::optional<int64_t> seconds = parse_clock_offset(offset);
  if (!seconds) return false;
  set_clock_offset(disk, *seconds);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Standard output carries listings and recording bytes: the library's warnings go aside.
  set_command_line(argc, argv);
  bool verbose = false;
  std::vector<std::string> images;
  ImageOptions image_options;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "-d") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "krt: -d needs an image path\n");
        return kExitUsage;
      }
      images.push_back(argv[++i]);
    } else if (std::strcmp(argv[i], "--tz") == 0) {
      if (i + 1 >= argc || !set_time_zone(argv[++i])) {
        std::fprintf(stderr, "krt: --tz takes a time zone name (Europe/Berlin) or an offset (+01:00, -05:00)\n");
        return kExitUsage;
      }
    } else if (std::strcmp(argv[i], "--clock-offset") == 0) {
      if (i + 1 >= argc || !read_clock_offset(argv[++i])) {
        std::fprintf(stderr, "krt: --clock-offset takes [D=]+HH:MM:SS or [D=]-HH:MM:SS, at most 24 hours\n");
        return kExitUsage;
      }
    } else if (std::strcmp(argv[i], "--io-trace") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "krt: --io-trace needs a file\n");
        return kExitUsage;
      }
      if (!krt::set_io_trace(argv[++i])) {
        std::fprintf(stderr, "krt: the trace file %s cannot be created\n", argv[i]);
        return kExitFailed;
      }
    } else if (std::strcmp(argv[i], "-i") == 0 || std::strcmp(argv[i], "-o") == 0) {
      const bool format = argv[i][1] == 'i';
      if (i + 1 >= argc || !(format ? parse_image_format(argv[i + 1], image_options)
                                     : parse_image_offset(argv[i + 1], image_options))) {
        std::fprintf(stderr, "krt: %s\n", format ? "-i takes raw, split or ewf" : "-o takes a number of sectors");
        return kExitUsage;
      }
      ++i;
    } else if (std::strcmp(argv[i], "-v") == 0) {
      verbose = true;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("krt %s\n", KRT_TOOL_VERSION);
      return finish_output(kExitOk);
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return finish_output(kExitOk);
    } else {
      break;
    }
  }
  if (i >= argc) {
    usage(stderr);
    return kExitUsage;
  }
  const Command* c = find_command(argv[i]);
  if (!c) {
    std::fprintf(stderr, "krt: unknown command '%s'\n", argv[i]);
    usage(stderr);
    return kExitUsage;
  }
  route_library_log(verbose);
  CommandArgs args;
  bool help = false;
  if (const int r = parse_command_args(*c, argc - i - 1, argv + i + 1, args, help); r != kExitOk) return r;
  if (help) {
    command_help(*c);
    return finish_output(kExitOk);
  }
  set_json_errors(args.json);
  install_image_options(image_options);  // asked first: before the E01 opener
  krt::install_ewf_source();
  set_named_images(std::move(images));
  return finish_output(c->run(args));
}
