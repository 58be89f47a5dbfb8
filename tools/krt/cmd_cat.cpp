// krt cat PATH...: the bytes of recordings to standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "reader.h"
#include "session.h"
#include "tree.h"

int cmd_cat(const CommandArgs& a) {
  std::vector<TreePath> paths(a.words.size());
  std::string error;
  for (size_t i = 0; i < a.words.size(); ++i) {
    if (!parse_tree_path(a.words[i], paths[i], error)) return fail(error);
  }
  if (!bring_up_volume()) return kExitFailed;
  for (const TreePath& p : paths) {
    TreeEntry e;
    if (!find_recording(p, e, error)) return fail(error);
    int write_error = 0;
    const auto to_stdout = [&write_error](const uint8_t* data, size_t size) {
      if (std::fwrite(data, 1, size, stdout) == size) return true;
      write_error = errno;
      return false;
    };
    uint64_t bytes = 0;
    if (!read_recording(e.path, to_stdout, bytes, error)) {
      return fail(write_error ? std::string("cannot write to standard output: ") + std::strerror(write_error)
                              : error);
    }
  }
  if (std::fflush(stdout) != 0) return fail(std::string("cannot write to standard output: ") + std::strerror(errno));
  return kExitOk;
}
