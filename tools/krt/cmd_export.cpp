// krt export PATH... DIR: copies recordings into DIR/idea0/2010-03-05/002/NAME and writes
// DIR/SHA256SUMS.
//
// Recordings are read through CFSFile (reader.h), as the viewer's copy reads them, and hashed
// on a thread of their own while the next block is read and written (sha256.h). The local
// side is written with plain POSIX calls, not through the virtual file table: the table sends
// every path that begins with "/mnt" to the recorder disks, and a local folder such as
// /mnt/usb must still receive the copies. Each copy goes to a hidden temporary file next to
// its target and is renamed over the target once complete, so an existing file is replaced
// only by a whole new copy and a failed copy leaves nothing behind.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "commands.h"
#include "manifest.h"
#include "progress.h"
#include "reader.h"
#include "session.h"
#include "sha256.h"
#include "sums.h"
#include "text.h"
#include "tree.h"
#ifdef KRT_TOOL_MP4
#include "mp4_export.h"
#include "wall_clock.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr size_t kRootPrefix = 5;      // "/mnt/" in front of the partition component
constexpr size_t kPipelineBlocks = 4;  // blocks in flight between copying and hashing

// Writes all size bytes to fd. Returns false with errno set on failure.
bool write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Copies one recording to target: reads and writes each block on this thread while the
// pipeline hashes the one before. Sets hex to the SHA-256 of the copy. Returns false with
// error set when the copy failed (nothing is left at target's temporary name; an earlier file
// at target is kept).
bool copy_recording(const TreeEntry& rec, const fs::path& target, HashPipeline& hash, ProgressBar& bar,
                    std::string& hex, std::string& error) {
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    error = concat({"cannot create ", target.parent_path().string(), ": ", ec.message()});
    return false;
  }
  RecordingReader reader;
  if (!reader.open(rec.path, rec.size, error)) return false;
  const fs::path temp = target.parent_path() / concat({".", target.filename().string(), ".part"});
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = concat({"cannot create ", temp.string(), ": ", std::strerror(errno)});
    return false;
  }
  int write_error = 0;
  for (;;) {
    uint8_t* block = hash.take();
    const uint32_t n = reader.read(block);
    if (n == 0 || !write_all(fd, block, n)) {
      if (n != 0) write_error = errno ? errno : EIO;
      hash.give_back(block);
      break;
    }
    hash.submit(block, n);
    bar.add(n);
  }
  hex = hash.digest();
  if (::close(fd) != 0 && write_error == 0) write_error = errno;
  bool ok = write_error == 0 && reader.complete(error);
  if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    write_error = errno;
  }
  if (ok) return true;
  if (write_error) error = concat({"cannot write ", target.string(), ": ", std::strerror(write_error)});
  ::unlink(temp.c_str());
  return false;
}

#ifdef KRT_TOOL_MP4
// Remuxes one recording into DIR/relative with the extension ".mp4" (mp4_export.h); relative
// becomes the MP4's path, hex its SHA-256, bytes its size and recorded the SHA-256 of the
// recorded bytes. What was left out is said on the progress line. Returns false with error set
// when it cannot be remuxed (nothing is left behind).
bool copy_as_mp4(const TreeEntry& rec, const fs::path& dir, std::string& relative, ProgressBar& bar,
                 std::string& hex, uint64_t& bytes, std::string& recorded, std::string& error) {
  TreePath p;
  if (!parse_tree_path(rec.path, p, error)) return false;
  relative = (fs::path(relative).parent_path() / mp4_name(rec.name)).string();
  Mp4Export out;
  if (!export_mp4(rec.path, rec.size, local_time_of(p.recording.start_time), (dir / relative).string(), out,
                  error))
    return false;
  for (const std::string& note : out.notes) bar.say(concat({rec.path, ": ", note}));
  bar.add(rec.size);
  hex = out.sha256;
  bytes = out.bytes;
  recorded = out.source_sha256;
  return true;
}
#endif

// The recordings under every source path, each once, in the order first met.
bool gather(const std::vector<TreePath>& sources, std::vector<TreeEntry>& out, std::string& error) {
  std::set<std::string> seen;
  for (const TreePath& p : sources) {
    std::vector<TreeEntry> found;
    if (!collect_recordings(p, found, error)) return false;
    for (TreeEntry& e : found) {
      if (seen.insert(e.path).second) out.push_back(std::move(e));
    }
  }
  return true;
}

}  // namespace

int cmd_export(const CommandArgs& a) {
  bool mp4 = false;
  for (const auto& [option, value] : a.values) mp4 = mp4 || option == "--mp4";
#ifndef KRT_TOOL_MP4
  if (mp4) return fail("this krt was built without FFmpeg: no --mp4");
#endif
  const fs::path dir = a.words.back();
  std::vector<TreePath> sources(a.words.size() - 1);
  std::string error;
  for (size_t i = 0; i + 1 < a.words.size(); ++i) {
    if (!parse_tree_path(a.words[i], sources[i], error)) return fail(error);
  }
  if (!bring_up_volume()) return kExitFailed;
  std::vector<TreeEntry> recordings;
  if (!gather(sources, recordings, error)) return fail(error);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) return fail(concat({"cannot create the folder ", dir.string()}));
  SumsFile sums(dir.string());
  if (!sums.load(error)) return fail(error);
  Manifest manifest(dir.string());
  if (!manifest.load(error)) return fail(error);
  manifest.add_sources();

  uint64_t total = 0;
  for (const TreeEntry& e : recordings) total += e.size;
  ProgressBar bar(total, recordings.size());
  HashPipeline hash(kReadBlockBytes, kPipelineBlocks);
  size_t failed = 0;
  for (const TreeEntry& e : recordings) {
    std::string relative = e.path.substr(kRootPrefix);
    std::string hex, recorded;
    uint64_t bytes = e.size;
#ifdef KRT_TOOL_MP4
    const bool copied = mp4 ? copy_as_mp4(e, dir, relative, bar, hex, bytes, recorded, error)
                            : copy_recording(e, dir / relative, hash, bar, hex, error);
#else
    const bool copied = copy_recording(e, dir / relative, hash, bar, hex, error);
#endif
    if (copied) {
      sums.set(relative, hex);
      manifest.add_file(relative, e, hex, bytes, recorded);
    } else {
      bar.say(error);
      ++failed;
    }
    bar.file_done();
  }
  bar.finish();
  if (!sums.save(error) || !manifest.save(error)) return fail(error);
  if (failed > 0) {
    return fail(concat({std::to_string(failed), " of ", std::to_string(recordings.size()),
                        " recordings were not copied"}));
  }
  return kExitOk;
}
