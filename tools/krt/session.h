// What every command that reads recordings does first, and how commands report failures.
#pragma once

#include <cstdint>
#include <string>

// Exit statuses of the tool.
constexpr int kExitOk = 0;       // the command did what was asked
constexpr int kExitFailed = 1;   // it could not: no disk, a bad path, a failed read or write
constexpr int kExitUsage = 2;    // the command line itself is wrong

// Prints "krt: " and message to standard error. Returns kExitFailed.
int fail(const std::string& message);

// Prints "krt: " and message, then a hint to run "krt COMMAND --help", to standard error.
// Returns kExitUsage.
int usage_error(const char* command, const std::string& message);

// Brings the recorder disks up (volume_startup: attach, mount every partition, register "/mnt",
// build the record calendar). Returns true when at least one recorder disk is attached; false
// after printing "krt: no recorder disk found".
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
