// krt cat PATH...: the bytes of recordings to standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "commands.h"
#include "catalog/reader.h"
#include "session.h"
#include "catalog/text.h"
#include "catalog/listing.h"

namespace {

// Writes one recording to standard output. Returns false with error set.
bool cat_one(const TreeEntry& e, uint8_t* block, std::string& error) {
  RecordingReader reader;
  if (!reader.open(e.path, e.size, error)) return false;
  for (uint32_t n; (n = reader.read(block)) > 0;) {
    if (std::fwrite(block, 1, n, stdout) != n) {
      error = concat({"cannot write to standard output: ", std::strerror(errno)});
      return false;
    }
  }
  return reader.complete(error);
}

}  // namespace

int cmd_cat(const CommandArgs& a) {
  std::vector<TreePath> paths(a.words.size());
  std::string error;
  for (size_t i = 0; i < a.words.size(); ++i) {
    if (!parse_tree_path(a.words[i], paths[i], error)) return fail(error);
  }
  if (!bring_up_volume()) return kExitFailed;
  const std::unique_ptr<uint8_t[]> block(new uint8_t[kReadBlockBytes]);
  for (const TreePath& p : paths) {
    TreeEntry e;
    if (!find_recording(p, e, error) || !cat_one(e, block.get(), error)) return fail(error);
  }
  if (std::fflush(stdout) != 0) return fail(concat({"cannot write to standard output: ", std::strerror(errno)}));
  return kExitOk;
}
