// The file-handle table's start-up step.
//
// The file layer owns the table of 256 file handles and fills in this body; until it exists
// there is no table to clear.
#include "krt/mount.h"

namespace krt {

void clear_file_handles() {}

}  // namespace krt
