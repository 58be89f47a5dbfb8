// The recorder's write side of the file layer: creating a recording, appending sectors to it,
// splitting it, continuing it on another partition, mirroring it, and its user data.
//
// A file is written on the work driver of a driver type (work_drivers.h):
//
//   created (krt_file_create: a handle, no cluster yet)
//     -> the first write takes the first cluster: dir_flag 2 / index flag 2, or dir_flag 3 /
//        index flag 1 for a file that continues a cut recording (`packed`)
//     -> each cluster boundary takes the next usable cluster, links it to the one before
//        (down_cluster_no, up_cluster_no) and moves the driver's write position
//        (set_current_cluster of driver_transitions.h)
//     -> a split (the pack period, krt_file_split), a full partition or a clock jump packs the
//        file (file_flag kFileCut) and starts its continuation in the same handle
//     -> krt_file_close packs it for the last time.
//
// The first cluster's item_num, end_length and end_time describe the file as written so far:
// they follow every write, and a pack writes them at once.
//
// Splitting. With P = pack period (ms) / 6000 and m the whole minutes since the handle's
// open_tick, a write splits the file when m >= 3P/2, or when the clock's second is 0 and
//   - P divides 60: m >= P/2 and the minute is a multiple of P;
//   - P is a multiple of 60: m >= P/2 and the minute is 0;
//   - otherwise: m >= P.
// The tick count and the time come from the library clock (clock.h), so tests and tools can
// drive the rule with a manual clock.
//
// Writes reach the disk through the write hook (disk.h). The viewer's hook discards them; only
// tools that make images install one that writes.
//
// Every function takes library_lock() for its whole run and starts with the handle check of
// file.h (FS_INVALID_HANDLE).
#pragma once

#include <cstdint>

#include "krt/dir_index.h"
#include "krt/driver.h"
#include "krt/file.h"
#include "krt/userdata.h"

namespace krt {

constexpr int kMirrorDriverType = 3;  // driver type of a mirror file

// ---- Creating and writing -----------------------------------------------------------------

// Creates a file of channel ch (AV code av, record type `type`, image code `image`, creation
// time t) on the work driver of driver type drv; no cluster is taken until the first write.
// With mirror non-zero a mirror file is created first with the same values on the work driver
// of type kMirrorDriverType (`reserved` is only handed on to it); it gets every sector written
// and is closed with the file. Returns FS_OK with out set; FS_NO_HANDLE (out null, a mirror
// already made closed again) when no record is free or the type has no work driver.
int krt_file_create(uint32_t reserved, uint8_t ch, uint8_t av, uint8_t type, uint8_t image, uint32_t t,
                    int mirror, int drv, FILEHANDLE*& out);

// Appends n sectors of buf to the file of h and to its mirror. Returns the first failure of
// the two, else FS_OK; FS_INVALID_HANDLE (error "Invalid file write handle") for a handle not
// open for writing; otherwise as _file_write.
int krt_file_write(FILEHANDLE* h, const uint8_t* buf, uint32_t n);

// Appends n sectors of buf to the file of h alone: moves the driver's clock on (time_changed),
// takes the first cluster when there is none yet (and stores user data waiting for it), fills
// the current cluster and goes on in the next one as needed (the file's own next cluster when
// the handle was moved back over sectors written before, else a new one), keeps the first
// cluster's summary (the file's end) up to date, and splits the file when the splitting rule says so (warning "_file_write pack file
// internal for cur_minute = m"). Returns FS_OK; FS_INVALID_HANDLE; FS_IO_ERROR when a sector
// write fails (the cluster is marked bad; the file keeps what was written before); the errors
// of set_new_clus and of the directory accessors.
int _file_write(FILEHANDLE* h, const uint8_t* buf, uint32_t n);

// Takes the next usable cluster of h's driver for h's file: links it after the current one
// (or makes it the file's first cluster), writes its directory item and index byte and moves
// the driver's write position there. When the partition is full ("DISK OVER"), the files of
// the driver are cut, the recording moves to the next driver (change_work_driver), the cut
// files continue there, and the event "DiskOver" names the old disk. Returns FS_OK; the
// directory and index accessors' errors; FS_READ_FAIL when no driver of the ring has a usable
// cluster.
int set_new_clus(FILEHANDLE* h);

// Brings the file's directory items up to date: its last cluster (end_cluster) is closed with
// end_offset sectors and end time t, its first cluster gets end_offset, total_clus_num and t,
// and the driver's end_time1 becomes t; with write_now both sectors are written at once.
// Returns FS_OK (also for a file without a cluster yet) or the directory accessors' error.
int pack_file(FILEHANDLE* h, uint32_t t, bool write_now);

// Ends the file now and continues the recording in a new file in the same handle (its mirror
// first): the file is packed, the handle starts a continuation file (`packed` 1) and the user
// data, if any was stored, is stored again with the continuation's first cluster. Does
// nothing for a handle that is not open for writing. Returns FS_OK or FS_INVALID_HANDLE.
int krt_file_split(FILEHANDLE* h);

// ---- Group operations (a full partition, a clock jump) -------------------------------------

// Cuts every file being written on driver pdp: file_flag becomes kFileCut and the file is
// packed with end time t (written at once); then flushes pdp's disk. Returns nothing.
void close_pack_driver(DriverParam& pdp, uint32_t t);

// Starts a continuation for every cut file (file_flag kFileCut): the handle is initialised as
// by krt_file_create with its own channel, AV, type, image and mirror, time t, on the current
// work driver of its driver's type, and gets `packed` 1; user data it carried waits for the
// continuation's first cluster. A cut file whose type has no work driver stays cut (writes to
// it are refused). Returns nothing.
void reopen_cut_files(uint32_t t);

// Tells work driver pdp the writer's time `now` before a write. With d = now - end_time1 in
// seconds: d < -10 cuts the files being written on pdp (packed with the old end_time1), sets a
// collision and opens their continuations; d > 7,200 with a non-zero end_time1 only cuts and
// continues them. Both emit the event "TimeChanged" with the text "<d>S". Any d != 0 resets the
// writer's file counter (reset_repeat_counter). Then end_time1 = now. Returns FS_OK.
int time_changed(DriverParam& pdp, uint32_t now);

// ---- User data -------------------------------------------------------------------------

// Gives the file of h the user-data record ud (its lap byte is ignored). With a first cluster
// the record is added to the driver's user-data area and, the first time, its item number is
// stored in the first cluster's up_cluster_no; without one it waits for the first cluster
// (trace "_set_file_ud() the following user data not write to file first_cluster ...").
// Does nothing for a handle that is not open for writing. Returns FS_OK, FS_INVALID_HANDLE, or
// the error of ud_add_item or of the directory accessor.
int _set_file_ud(FILEHANDLE* h, const UserData& ud);

// _set_file_ud on the mirror (when there is one), then on h. Returns h's result.
int krt_file_set_ud(FILEHANDLE* h, const UserData& ud);

// Reads the user-data record of h's file into out. Returns FS_OK; FS_NO_USER_DATA when the
// file carries none (trace "the file no user data") or its item belongs to another file;
// FS_NO_EXIST_FILE when h is not on a file; FS_INVALID_HANDLE; the accessors' errors.
int fs_get_user_data(FILEHANDLE* h, UserData& out);

// Lists card recordings by user data: the files of record type 3 (C) and non-zero size of one
// channel, on the work drivers of types 0 and 1, that start before t2, end at or after t1 and
// carry user data matching the `n` filter records in order (ud_check_item of userdata.h), in
// ascending start time from t1. The channel is byte 11 (the lap byte) of the first filter
// record; kAnyChannel, or no filter record, means every channel. The filters take part only
// when at least one of them checks something (a card type or digit that is not all ones);
// otherwise every card recording is listed. At most `count` file infos go into out; `count`
// receives the number listed. Returns FS_OK when at least one was listed; FS_NO_EXIST_FILE
// when none was; FS_NO_HANDLE when no handle is free.
int fs_file_ud_list_ex(uint32_t t1, uint32_t t2, const UserData* filters, int n, int& count, FileInfo* out);

}  // namespace krt
