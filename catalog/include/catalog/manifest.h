// The manifest.json of an export folder: where every exported file came from. The `krt` tool's
// export and the viewer's copy job both write it.
//
//   {
//   "tool": "krt", "version": "0.1",
//   "command_line": ["krt", "-d", "disk.E01", "export", "/mnt/idea0", "out"],
//   "started": "2026-12-11T06:00:00Z", "ended": "2026-12-11T06:01:10Z", "clock_offset": null,
//   "sources": [
//   {"path": "/cases/disk.E01", "id": "s1", "disk": 0, "format": "E01", "segments": 3,
//    "bytes": 1048576000, "sha256": "..."},
//   ...
//   ],
//   "files": [
//   {"file": "idea0/2010-03-05/002/NAME", "recording": "/mnt/idea0/2010-03-05/002/NAME",
//    "source": "s1", "disk": 0, "partition": "idea0", "first_cluster": 4242,
//    "clusters": [4242, 4243], "sectors": [[start, count], ...], "header_bytes": 1536,
//    "byte_ranges": [[offset, length], ...], "start": "2010-03-05T08:00:00", "end": "...",
//    "bytes": 59392, "sha256": "...", "recorded_sha256": "..."},
//   ...
//   ],
//   "failed": [
//   {"recording": "/mnt/idea0/2010-03-05/003/NAME", "reason": "..."},
//   ...
//   ]
//   }
//
// The lines before "sources" describe the last export into the folder: the tool's command line
// as typed, its version, when it started and ended (UTC, this machine's clock), and the offset
// of the recorder's clock from true time in seconds when one was given (null otherwise). Each
// source has an id ("s1", "s2", ...) that its files name; its record carries the image's
// absolute path (the first segment of a set), format, number of segment files and size of the
// disk it holds; "sha256" (with --hash-source) is the SHA-256 of those bytes, the whole disk
// as the set holds it. "failed" lists the recordings the last export could not copy, with why.
//
// Each source and each file is one line, so a later export into the same folder keeps the
// lines of earlier ones (in their order), replaces the line of a file it exports again (a
// source: of the same path) and adds the new ones, as SHA256SUMS does. The clusters are the
// file's chain as the recorder linked it (from its first cluster, following each cluster's
// "next" link); "sectors" gives the disk sectors of those clusters, merged where they touch,
// the last cluster counted to the sectors the recording uses of it. "start" and "end" read the
// recorder's clock (no zone). "recorded_sha256" (MP4 exports only) is the SHA-256 of the
// recorded bytes the file was remuxed from, as a plain export would have copied them.
// "all_zero": true (only then present) marks a recording whose every byte is zero.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "catalog/listing.h"

class Manifest {
 public:
  // The manifest of folder dir ("dir/manifest.json"), with no lines yet, written by program
  // ("krt", "vendrel") of this build's version.
  Manifest(const std::string& dir, const std::string& program);

  // Reads the existing file's source and file lines. A missing file reads as empty. Returns
  // false with error set when the file exists but cannot be read.
  bool load(std::string& error);

  // Records the command line, the export's start (now, UTC) and the recorder clock's offset
  // when one was given (clock_offset: seconds; null when not).
  void begin(const std::vector<std::string>& command_line, const std::string* clock_offset = nullptr);

  // Adds (or replaces) the lines of every attached disk's source. With hash, reads each
  // disk's whole image and adds its SHA-256, saying so on standard error with a progress bar.
  // Returns false with error set when a disk cannot be read to its end (nothing is added).
  bool add_sources(bool hash, std::string& error);

  // Lists a recording this export could not copy, with the reason.
  void add_failure(const std::string& recording, const std::string& reason);

  // Adds (or replaces) the line of an exported file: file is its path in the folder, rec the
  // recording it came from, sha256 and bytes those of the file, recorded_sha256 that of the
  // recorded bytes ("" for a plain copy, whose bytes are the recorded ones). Reads the
  // recording's cluster chain through the library (the volume must be up). all_zero: every
  // byte of the recording is zero (a wiped or never-written stretch, no picture in it); the
  // line then says "all_zero": true.
  void add_file(const std::string& file, const TreeEntry& rec, const std::string& sha256, uint64_t bytes,
                const std::string& recorded_sha256 = "", bool all_zero = false);

  // Writes the manifest, the export's end time (now) included, to a temporary file in the folder and renames it over manifest.json.
  // Returns false with error set when that fails (the old file then stays as it was).
  bool save(std::string& error) const;

 private:
  // One group of lines, each under a key, in the order first added.
  struct Lines {
    std::vector<std::string> lines;
    std::map<std::string, size_t> index;
    // Sets the line of key; returns its position (kept when it replaces an earlier line).
    size_t set(const std::string& key, const std::string& line);
  };
  std::string path_;
  std::string program_;
  std::vector<std::string> header_;    // the export's own lines, before "sources"
  std::map<int, std::string> source_ids_;  // per disk index: the id of its source line
  Lines sources_;
  Lines files_;
  std::vector<std::string> failed_;
};
