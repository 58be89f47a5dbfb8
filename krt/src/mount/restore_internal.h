// Shared by the restore at mount and the repair tools.
#pragma once

#include <cstdint>

namespace krt {

// The index flag a cluster's directory item calls for: dir_flag 0 and 1 give flag 0 (inside a
// file, or free), 2 gives 2 (first cluster), 3 gives 1 (first cluster of a continuation), and
// anything else flag 3 (bad) with the warning "restore_clus_index: set bad clus c".
uint8_t index_flag_for(uint8_t dir_flag, uint32_t c);

}  // namespace krt
