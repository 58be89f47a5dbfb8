// Recorder disks: finding them and moving whole sectors between them and memory.
//
// This is the platform side of the disk layer. It walks an ordered list of disk candidates,
// opens each one read-only, and keeps those whose sector 0 starts with the letters "KRT"
// (recorder disks), numbering them densely from 0: the disk index used everywhere above.
// A candidate's position in the list is its "drive number".
//
// The candidates, in this order:
//   1. image files given by the program (command line), see set_disk_candidates();
//   2. image files named in the environment variable VENDREL_DISKS (colon-separated);
//   3. the files of the folder "Disks/" next to the running program, sorted by name;
//   4. whole-disk block devices listed in /sys/block: sd*, vd*, nvme*n*, mmcblk* and loop*
//      devices that have a backing file, ordered by name length, then by name.
// Candidates that cannot be opened or read, or that are not recorder disks, are skipped.
// A candidate is opened as an image source (krt/image_source.h): a device or plain image, a
// split raw image from its first segment, or a container a registered opener claims; a set
// with a missing or unreadable segment is refused (disk_refusals) with a logged warning.
//
// Sectors move through two hooks, read and write, held in a small table so that tests can put
// a fault-injecting device behind the library and image-making tools can put a real writer
// there. The default read hook reads with one pread() per request; the default write hook
// writes nothing and reports success: the library never changes a disk.
//
// Everything here is serialised by library_lock(); the hooks are called with it held.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace krt {

constexpr int kSectorBytes = 512;    // bytes in one sector
constexpr int kMaxDisks = 32;        // recorder disks attached at most
constexpr int kMaxCandidates = 256;  // candidates looked at, at most

// The table of attached recorder disks.
struct DiskInfo {
  int32_t ide_num;           // number of attached recorder disks
  int32_t ide_port;          // always 4
  uint32_t ide_mask;         // always 0: no disk is marked present or absent by mask
  uint32_t ide_bad;          // always 0
  uint64_t cap[kMaxDisks];   // capacity of disk index i in sectors
};

// Where disk candidates come from; see the list at the top of this file.
struct DiskSources {
  std::vector<std::string> images;  // image files given by the program, looked at first
  bool environment = true;          // take the images named in VENDREL_DISKS
  bool program_folder = true;       // take the files of Disks/ next to the program
  bool block_devices = true;        // take the whole-disk block devices of /sys/block
};

// Replaces the candidate sources used by the next attach_disks() and count_attached_disks().
void set_disk_sources(DiskSources sources);

// Sets the image files given by the program (the command line), keeping the other sources.
void set_disk_candidates(std::vector<std::string> images);

// The image files given by the program (the last set_disk_candidates or set_disk_sources).
std::vector<std::string> given_disk_images();

// The current candidate list, in drive-number order (at most kMaxCandidates paths). Names that
// do not exist are kept: they simply fail to open.
std::vector<std::string> disk_candidates();

// The folders image candidates come from: the folder of each image given by the program or
// named in VENDREL_DISKS (devices under /dev left out) and the folder "Disks/" next to the
// program, absolute, sorted, each once. They need not exist. A watcher of new disks (the
// viewer's hot-plug) watches these and the block devices.
std::vector<std::string> disk_image_folders();

// Closes the handles of an earlier attach, then walks the candidates and attaches every
// recorder disk, up to kMaxDisks. Rebuilds the disk table, the drive numbers and the handle
// table from scratch. Returns 0 (finding no disk is not an error).
int attach_disks();

// Closes every handle and empties the disk table. Returns nothing; never fails.
void detach_disks();

// Copies the disk table into *out (when out is not null). Returns the number of attached disks.
int32_t get_disk_info(DiskInfo* out);

// Probes the candidates again and returns how many are recorder disks (at most kMaxDisks).
// Leaves the disk table and the handles untouched; every handle it opens is closed again.
int32_t count_attached_disks();

// For each disk index, the drive number (candidate position) it was attached from; -1 for
// indexes without a disk.
std::array<int32_t, kMaxCandidates> drive_numbers();

// The path a disk index was attached from; empty for an index without a disk.
std::string disk_source(int disk);

// What an attached disk is read from (krt/image_source.h).
struct DiskSourceInfo {
  std::string path;    // the candidate path (the first segment of a set)
  std::string format;  // "device", "raw", "split raw", "E01", "Ex01"
  int segments = 0;    // files the source is made of
  uint64_t bytes = 0;  // bytes it holds
};

// The source of a disk index; an empty record (no path, 0 segments) for an index without a disk.
DiskSourceInfo disk_source_info(int disk);

// A candidate the last attach_disks() refused: a set of image files with a missing or
// unreadable segment (a plain candidate that does not open is skipped without a word).
struct DiskRefusal {
  std::string path;    // the candidate
  std::string reason;  // why, naming the segment
};

// The candidates the last attach_disks() refused, in candidate order. Each refusal is also
// logged as a warning when it happens.
std::vector<DiskRefusal> disk_refusals();

// What the last attach_disks() made of one candidate, so that an empty result can be
// explained to the user.
struct CandidateReport {
  enum Verdict {
    attached,            // a recorder disk, now attached
    not_recorder_disk,   // opened and read, but sector 0 carries no KRT tag (or is unreadable)
    permission_denied,   // the user may not read it
    cannot_open,         // it does not open for another reason (detail: the system's message)
    refused,             // a set of image files refused (detail: the reason, naming the segment)
  };
  std::string path;           // the candidate
  bool block_device = false;  // a block device (else an image file)
  Verdict verdict = cannot_open;
  std::string detail;         // see the verdicts
  std::string group;          // permission_denied: the owner group that may read it ("" unknown)
};

// One report per candidate the last attach_disks() looked at, in candidate order (up to the
// candidate that filled the disk table).
std::vector<CandidateReport> candidate_reports();

// One line for a report, as `krt disks` prints it for a candidate that was not attached:
//   "PATH: not a recorder disk", "PATH: permission denied",
//   "PATH: cannot be opened: MESSAGE", "PATH: refused: REASON", "PATH: recorder disk".
std::string describe_candidate(const CandidateReport& report);

// ---- Sector hooks ----------------------------------------------------------------------------

// Reads count sectors starting at sector (sector_hi << 32 | sector_lo) of disk into buf
// (count * 512 bytes). Returns 0 on success, non-zero on failure.
using DiskReadFn = int (*)(uint16_t disk, uint16_t count, uint32_t sector_lo, uint32_t sector_hi,
                           uint8_t* buf);

// Writes count sectors from buf. Returns 0 on success, non-zero on failure.
using DiskWriteFn = int (*)(uint16_t disk, uint16_t count, uint32_t sector_lo, uint32_t sector_hi,
                            const uint8_t* buf);

// The device behind the library.
struct DiskHooks {
  DiskReadFn read;    // never null
  DiskWriteFn write;  // never null
};

// The default read hook: count * 512 bytes at sector * 512 from the disk's image source (one
// pread() for a device or plain image). Returns 0 when every byte was read; -1 for an unknown
// disk, a failed read or a short read (a read past the end of an image is a failed read).
int disk_read_sectors(uint16_t disk, uint16_t count, uint32_t sector_lo, uint32_t sector_hi,
                      uint8_t* buf);

// The default write hook: writes nothing and returns 0.
int disk_write_sectors(uint16_t disk, uint16_t count, uint32_t sector_lo, uint32_t sector_hi,
                       const uint8_t* buf);

// Installs hooks; a null member keeps the default for that direction. Returns nothing.
void set_disk_hooks(DiskHooks hooks);

// The hooks in use.
DiskHooks disk_hooks();

// A count that moves on whenever the disks behind the library may have changed: at every
// detach (and so every attach) and every change of the hooks. What was read from the disks
// (read-ahead windows, what was worked out from sectors) is stale once it moved on.
uint64_t disk_set_generation();

// The default hooks (pread reader, discarding writer).
DiskHooks default_disk_hooks();

// ---- Standby (the recorder's power management; nothing to do on this platform) -----------

// Wakes a disk up. Returns 0.
int disk_activate(int disk);

// Sets a disk's standby timer. Returns 0.
int disk_standby(int disk, int minutes);

// Sets the standby timer of every disk in mask. Returns 0.
int set_standby_all(uint32_t mask, int minutes);

}  // namespace krt
