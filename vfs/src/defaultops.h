// The default operations: the C library behind entry 0 of the virtual file table.
#pragma once

#include "vfs/fileops.h"

namespace vfs_detail {

// stdio for files, opendir/readdir + stat for searches, statvfs for disk space.
extern const FileOps kDefaultOps;

}  // namespace vfs_detail
