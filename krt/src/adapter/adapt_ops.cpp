// The adapter's operation table, and the slots that do nothing on a recorder disk.
#include <mutex>

#include "adapt_internal.h"
#include "krt/adapter.h"
#include "krt/lock.h"

namespace krt {
namespace adapt {
namespace {

char* read_line(char*, int, FSHandle) { return nullptr; }
int write_line(const char*, FSHandle) { return -1; }
int access(const char*, int) { return 0; }
int remove(const char*) { return -1; }
int make_dir(const char*) { return -1; }
int remove_dir(const char*) { return -1; }

constexpr FileOps kOps = {
    open,  close,  read,       write,     flush,       seek,      tell,     read_line, write_line,
    access, rename, remove,    find_first, find_next,  find_close, make_dir, remove_dir, disk_space,
};

}  // namespace
}  // namespace adapt

const FileOps* adapter_file_ops() { return &adapt::kOps; }

}  // namespace krt
