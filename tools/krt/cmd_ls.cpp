// krt ls [-r] [--csv | --bodyfile] [--hash] [PATH]: one folder of the recordings tree
// (listing.h), or every recording under PATH, one line each, for timeline tools.
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>

#include "catalog/listing.h"
#include "catalog/reader.h"
#include "catalog/sha256.h"
#include "catalog/text.h"
#include "commands.h"
#include "catalog/json.h"
#include "krt/packed_time.h"
#include "session.h"
#include "wall_clock.h"

namespace {

void print_json(const TreePath& folder, const std::vector<TreeEntry>& entries) {
  std::printf("[");
  for (size_t i = 0; i < entries.size(); ++i) {
    const TreeEntry& e = entries[i];
    std::printf("%s{\"name\":%s,\"path\":%s", i ? "," : "", json_quote(e.name).c_str(),
                json_quote(e.path).c_str());
    TreePath r;
    std::string ignored;
    if (folder.level == Level::kChannel && parse_tree_path(e.path, r, ignored)) {
      std::printf(",\"size\":%" PRIu64 ",\"start\":%s,\"first_cluster\":%u", e.size,
                  json_time(r.recording.start_time).c_str(), r.recording.first_cluster);
    }
    std::printf("}");
  }
  std::printf("]\n");
}

// How the recordings under a path are written: one line each.
enum class Form { kPaths, kCsv, kBodyfile };

// A recording's start and end as seconds of the recorder's clock counted as UTC (so gmtime
// gives the clock's own fields back); the end lies on the next day when its clock is earlier.
std::pair<std::time_t, std::time_t> clock_span(const krt::RecordingName& r) {
  const std::time_t start = krt::time_to_time_t(r.start_time);
  std::time_t end = start - (r.hour * 3600 + r.minute * 60 + r.second) + r.end_hour * 3600 + r.end_minute * 60 +
                    r.end_second;
  if (end < start) end += 86400;
  return {start, end};
}

// "2010-03-05T08:00:00": a clock time of the recorder, without a zone.
std::string clock_text(std::time_t t) { return utc_text(t, "%Y-%m-%dT%H:%M:%S"); }

// The SHA-256 of a recording's bytes as cat writes them; "" with error set when it does not read.
std::string recording_sha256(const TreeEntry& e, std::string& error) {
  RecordingReader reader;
  if (!reader.open(e.path, e.size, error)) return "";
  const std::unique_ptr<uint8_t[]> block(new uint8_t[kReadBlockBytes]);
  Sha256 sha;
  for (uint32_t n; (n = reader.read(block.get())) > 0;) sha.update(block.get(), n);
  return reader.complete(error) ? sha.hex() : "";
}

// Writes one line per recording under folder. Returns kExitOk, or kExitFailed after saying
// which recordings could not be hashed (their lines are written with an empty hash).
int print_recordings(const TreePath& folder, Form form, bool hash) {
  std::vector<TreeEntry> recordings;
  std::string error;
  if (!collect_recordings(folder, recordings, error)) return fail(error);
  if (form == Form::kCsv)
    std::printf("start,end,channel,kind,disk,partition,first_cluster,size,path%s\n", hash ? ",sha256" : "");
  int status = kExitOk;
  for (const TreeEntry& e : recordings) {
    TreePath p;
    if (!parse_tree_path(e.path, p, error)) return fail(error);
    std::string sha;
    if (hash && (sha = recording_sha256(e, error)).empty()) status = fail(error);
    const krt::RecordingName& r = p.recording;
    const auto [start, end] = clock_span(r);
    if (form == Form::kPaths) {
      std::printf("%s\t%" PRIu64 "%s%s\n", e.path.c_str(), e.size, hash ? "\t" : "", sha.c_str());
    } else if (form == Form::kCsv) {
      // Paths never hold a comma or a quote (the name grammar has neither).
      std::printf("%s,%s,%s,%c,%d,%s,%u,%" PRIu64 ",%s%s%s\n", clock_text(start).c_str(), clock_text(end).c_str(),
                  channel_name(p.channel).c_str(), krt::type_letter(r.alarm), p.partition.disk,
                  partition_name(p.partition).c_str(), r.first_cluster, e.size, e.path.c_str(), hash ? "," : "",
                  sha.c_str());
    } else {
      // MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime: the hash field carries the
      // SHA-256 with --hash ("0" without); inode is the first cluster; modified and born at
      // the start, changed at the end, as this machine's local time (as the mount shows them).
      const std::time_t from = local_time_of(r.start_time), to = from + (end - start);
      std::printf("%s|%s|%u|r/r--r--r--|0|0|%" PRIu64 "|0|%lld|%lld|%lld\n", hash ? sha.c_str() : "0",
                  e.path.c_str(), r.first_cluster, e.size, static_cast<long long>(from), static_cast<long long>(to),
                  static_cast<long long>(from));
    }
  }
  return status;
}

}  // namespace

int cmd_ls(const CommandArgs& a) {
  bool recursive = false, hash = false;
  Form form = Form::kPaths;
  for (const auto& [option, value] : a.values) {
    recursive = recursive || option == "-r";
    hash = hash || option == "--hash";
    if (option == "--csv") form = Form::kCsv;
    if (option == "--bodyfile") form = Form::kBodyfile;
  }
  if (a.json && (recursive || form != Form::kPaths || hash))
    return usage_error("ls", "--json lists one folder: not with -r, --csv, --bodyfile or --hash");
  TreePath folder;
  std::string error;
  if (!parse_tree_path(a.words.empty() ? "/mnt" : a.words[0], folder, error)) return fail(error);
  if (!bring_up_volume()) return kExitFailed;
  if (recursive || form != Form::kPaths || hash) return print_recordings(folder, form, hash);
  std::vector<TreeEntry> entries;
  if (!list_folder(folder, entries, error)) return fail(error);
  if (a.json) {
    print_json(folder, entries);
  } else {
    for (const TreeEntry& e : entries) {
      if (folder.level == Level::kChannel) std::printf("%s\t%" PRIu64 "\n", e.name.c_str(), e.size);
      else std::printf("%s\n", e.name.c_str());
    }
  }
  return kExitOk;  // the tool checks what reached standard output
}
