// krt frames PATH: runs a recording through the playback engine -- no window, unlimited speed --
// and prints one line per decoded video picture in the form of FFmpeg's framemd5 output, so it
// can be compared with `krt cat PATH | ffmpeg -i - -map 0:v:0 -f framemd5 -`. With --backward
// the engine starts at the last picture and steps back to the first, one line per picture shown.
//
// PATH is a recording under /mnt (found as `cat` finds it) or, for anything not under /mnt, a
// local file; both are read through CFSFile, as a player reads them.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <tarnvox/tarnvox.h>

#include "commands.h"
#include "catalog/reader.h"
#include "session.h"
#include "catalog/text.h"
#include "catalog/listing.h"

namespace {

// True for the paths the tree answers: "/mnt" and everything below it.
bool under_mnt(const std::string& path) { return path == "/mnt" || path.rfind("/mnt/", 0) == 0; }

// The engine's read callback over a RecordingReader.
long read_for_engine(void* opaque, unsigned char* buffer, size_t length) {
  return static_cast<RecordingReader*>(opaque)->read(
      buffer, static_cast<uint32_t>(length < kReadBlockBytes ? length : kReadBlockBytes));
}

// The engine's random-access read callback over the bytes of a whole recording.
long read_bytes_at(void* opaque, int64_t offset, unsigned char* buffer, size_t length) {
  const auto& bytes = *static_cast<const std::vector<unsigned char>*>(opaque);
  if (offset < 0 || static_cast<uint64_t>(offset) >= bytes.size()) return 0;
  const size_t n = std::min(length, bytes.size() - static_cast<size_t>(offset));
  std::memcpy(buffer, bytes.data() + offset, n);
  return static_cast<long>(n);
}

}  // namespace

int cmd_frames(const CommandArgs& a) {
  const std::string& path = a.words[0];
  std::string error;
  RecordingReader reader;
  if (under_mnt(path)) {
    TreePath p;
    if (!parse_tree_path(path, p, error)) return fail(error);
    if (!bring_up_volume()) return kExitFailed;
    TreeEntry e;
    if (!find_recording(p, e, error)) return fail(error);
    if (!reader.open(e.path, e.size, error)) return fail(error);
  } else if (!reader.open(path, error)) {
    return fail(error);
  }
  TvxPrepare();  // the decoders' complaints about damaged data go to the engine's quiet log
  long pictures = 0;
  bool backward = false;
  for (const auto& [option, value] : a.values) backward = backward || option == "--backward";
  if (backward) {
    // Stepping back reads the recording at any place: it is read whole into memory first.
    std::vector<unsigned char> bytes;
    unsigned char block[kReadBlockBytes];
    for (uint32_t n; (n = reader.read(block)) > 0;) bytes.insert(bytes.end(), block, block + n);
    if (!reader.complete(error)) return fail(error);
    TvxSource source{read_bytes_at, &bytes, static_cast<int64_t>(bytes.size())};
    pictures = tvx_framemd5_backward(&source, stdout);
    if (pictures < 0) return fail(concat({"stepping back through ", path, " stalled"}));
  } else {
    pictures = tvx_framemd5(read_for_engine, &reader, stdout, 0);
    if (!reader.complete(error)) return fail(error);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    return fail(concat({"cannot write to standard output: ", std::strerror(errno)}));
  if (pictures <= 0) return fail(concat({"no video picture could be decoded from ", path}));
  return kExitOk;
}
