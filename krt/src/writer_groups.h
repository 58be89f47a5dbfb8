// Group operations of the writer over the handle table, used when a driver changes under the
// files being written (a full partition, a clock jump). Callers hold library_lock().
#pragma once

#include <cstdint>

#include "krt/driver.h"

namespace krt {

// Cuts every file being written on pdp: file_flag becomes kFileCut and the file's directory
// items are packed with end time t (written at once); then flushes pdp's disk. Returns nothing.
void close_pack_driver(DriverParam& pdp, uint32_t t);

// Opens a continuation for every cut file (file_flag kFileCut): the handle starts a new file
// with the same channel, AV, type, image and mirror at time t on the current work driver of its
// driver's type, marked as continuing a cut recording. Returns nothing.
void reopen_cut_files(uint32_t t);

}  // namespace krt
