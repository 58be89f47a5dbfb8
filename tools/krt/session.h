// What every command that reads recordings does first, and how commands report failures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Exit statuses of the tool.
constexpr int kExitOk = 0;       // the command did what was asked
constexpr int kExitFailed = 1;   // it could not: no disk, a bad path, a failed read or write
constexpr int kExitUsage = 2;    // the command line itself is wrong

// Makes fail(), usage_error() and the library's warnings speak JSON on standard error
// ({"error": "..."}, {"warning": "..."}): the --json of the command. Returns nothing.
void set_json_errors(bool on);

// Sends the library's warnings and errors to standard error in the tool's own form, each
// distinct message once: "krt: warning: MESSAGE". With verbose, its own log lines (time,
// level) pass unchanged, trace and info lines included. Returns nothing.
void route_library_log(bool verbose);

// Ends a command: flushes standard output and checks that every write to it succeeded. Returns
// status, or kExitFailed after "krt: cannot write to standard output: REASON" when a write
// failed (a full disk, a closed pipe).
int finish_output(int status);

// The tool's command line as typed (argv), for the export's manifest.
void set_command_line(int argc, char** argv);
const std::vector<std::string>& command_line();

// Prints "krt: " and message to standard error. Returns kExitFailed.
int fail(const std::string& message);

// Prints "krt: " and message, then a hint to run "krt COMMAND --help", to standard error.
// Returns kExitUsage.
int usage_error(const char* command, const std::string& message);

// The images named on the command line (-d), in order, each once (two spellings of one file
// are one image). When any are named, only they are examined: set_named_images also limits the
// library's disk candidates to them. Returns nothing.
void set_named_images(std::vector<std::string> images);

// After the disks are attached: says, for every named image that is not a usable recorder
// disk, "krt: IMAGE: why" (missing, permission, a folder, a FIFO -- never opened --, empty,
// not a recorder disk, too small for its partition table, a refused set with its segment).
// Returns true when every named image was attached (or none was named).
bool named_images_usable();

// Attaches the disks (attach_disks) and checks the named images (named_images_usable).
// Returns the number of attached disks, or -1 after the messages when a named image cannot
// be used.
int attach_named_disks();

// Brings the recorder disks up (volume_startup: attach, mount every partition, register "/mnt",
// build the record calendar). Returns true when at least one recorder disk is attached and
// every named image is one (named_images_usable); false after printing why ("krt: no recorder
// disk found", or each named image's reason).
bool bring_up_volume();

// Whether the volume start-up mounted at least one partition (of any disk, re-initialised ones
// included). When not, prints "krt: no partition could be mounted (krt info says why)" and
// returns false.
bool require_mounted_partition();

// The recorder clock offsets given on the command line (--clock-offset): recorder time minus
// true time in seconds, one for every disk or one for disk d. set_clock_offset with disk -1
// sets the offset of every disk not given its own.
void set_clock_offset(int disk, int64_t seconds);

// The clock offset of disk (0 when none was given).
int64_t clock_offset_of(int disk);

// The offsets given, as a JSON value for the manifest: "+00:20:00" when one offset was given
// for every disk, {"all":"+00:20:00","1":"-00:05:00"} when disks were given their own (no "all"
// without an offset for every disk); empty when no offset was given.
std::string clock_offsets_json();
