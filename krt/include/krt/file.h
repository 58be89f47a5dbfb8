// KRT files: the handle table, opening a recording and reading it sector by sector.
//
// A KRT "file" is one recording of one channel: a chain of clusters on one partition
// (driver), described cluster by cluster by the index bytes and directory items of
// dir_index.h. A file handle remembers which driver and which cluster it stands on, how many
// sectors of that cluster it has consumed, and a copy of the cluster's directory item. Reading
// is sector based: the caller asks for whole sectors, and the layer walks from cluster to
// cluster of the same file through the cluster index.
//
// Units. File positions are counted in sectors from the first sector of the file's first
// cluster; lengths in KB are sector counts halved (rounded down); times are packed times.
//
// The handle table. 256 FILEHANDLE records, allocated statically for the whole process and
// shared by every user of the library: the file layer, the time search (file_search.h) and the
// "/mnt" adapter, which keeps its byte-level fields in the same record. A handle is the address
// of its record. Its rules:
//
//   1. A record is free when file_flag is kFileFree. Allocation hands out only free records,
//      cleared to zero and stamped with the current generation; the caller then sets file_flag.
//   2. A handle is valid when it is the address of one of the 256 records (inside the table, on
//      a record boundary) and its fs_change equals the generation counter (fs_change() of
//      work_drivers.h), which moves on whenever the set of drivers is rebuilt. Every operation
//      refuses any other value with FS_INVALID_HANDLE: null, foreign and mid-record pointers, and
//      handles kept across a remount even when their slot has been reused since.
//   3. Operations other than close also refuse a valid handle whose record is free (closed).
//   4. A positioned handle (cur_cluster != 0) has a driver, stands on a data cluster
//      (cur_cluster < total_clus), and cur_offset <= clus_sectors <= sector_per_clus.
//   5. sections is null or the head of a list of time sections of the driver table.
// file_handles_check() tests these rules (tests and debug builds).
//
// Locking. Player threads, the copy thread and the user-interface thread share the table.
// Every function here takes library_lock() for its whole run, so a call never sees another
// call's half-done work; callers that need several calls to act as one (the adapter) hold the
// lock across them. Recording data is read with the lock held, straight from the disk into the
// caller's buffer (disk_io_read), one transfer per cluster crossed, never through the sector
// cache.
//
// Messages: warnings and errors go to the library log (log.h); traces produce nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <string>

#include "krt/dir_index.h"
#include "krt/driver.h"
#include "krt/result.h"

namespace krt {

constexpr int kMaxFileHandles = 256;  // records of the handle table

// file_flag: what a record is used for.
constexpr uint8_t kFileFree = 0;         // free
constexpr uint8_t kFileWriting = 1;      // open for writing
constexpr uint8_t kFileReading = 2;      // open for reading
constexpr uint8_t kFileCut = 3;          // cut by a split or a driver change, waiting to go on
constexpr uint8_t kFileReadingAlt = 4;   // open for reading (alternate open mode)

// kind: what an adapter handle stands for.
constexpr uint8_t kHandleRecording = 0;    // a recording file
constexpr uint8_t kHandleWorkDir = 5;      // a partition's work directory, not yet read
constexpr uint8_t kHandleWorkDirRead = 6;  // a work directory already read

// alloc_handle purposes.
constexpr int kPurposeCreate = 1;  // create a file for writing: needs the type's work driver
constexpr int kPurposeRead = 2;    // anything else

constexpr uint32_t kAdapterBufferEmpty = 0xFFFFFFFF;  // buffer_pos of an empty adapter buffer
constexpr int kUserDataBytes = 12;                    // bytes of a file's user-data record

// Largest sector count of one disk transfer (disk_io_read takes a 16-bit count).
constexpr uint32_t kMaxTransferSectors = 0xFFFF;

// One record of the handle table. Fields marked "write side" belong to the recorder's writer,
// "adapter" to the "/mnt" adapter; the file layer keeps but does not use them.
struct FILEHANDLE {
  // ---- Position in the file (file layer) ----
  FILEHANDLE* mirror;       // write side: second handle that receives the same writes; null = none
  uint32_t length;          // adapter: file length in bytes as last learnt
  uint32_t first_cluster;   // first cluster of the file (first_cluster_no of cur_dir_info)
  uint32_t end_cluster;     // write side: cluster holding the furthest written sector
  uint32_t end_offset;      // write side: sectors used in end_cluster
  uint32_t cur_cluster;     // cluster the handle stands on; 0 = not positioned
  uint32_t cur_offset;      // sectors already consumed in cur_cluster, 0..clus_sectors
  uint32_t up_cluster;      // up_cluster_no of cur_dir_info
  uint32_t total_clus_num;  // write side: ordinal of the last cluster written
  uint32_t curr_clus_num;   // ordinal of cur_cluster in the file (0 for the first cluster)
  uint32_t clus_sectors;    // sectors of file data held by cur_cluster
  uint8_t file_flag;        // kFileFree, kFileWriting, kFileReading, kFileCut, kFileReadingAlt
  uint8_t channel;          // channel 0..63 of the file; kAnyChannel in searches only
  uint8_t AV;               // AV code of cur_dir_info
  uint8_t alarm;            // record type of cur_dir_info: 0 R, 1 A, 2 M, 3 C, 4 H
  uint8_t image;            // image code of cur_dir_info
  uint8_t mode;             // the caller's mode value, stored only
  uint32_t open_tick;       // steady-clock milliseconds when the handle was opened or created
  DriverParam* pdp;         // driver the handle works on; null until opened
  uint8_t index_info;       // write side: index byte of the cluster being started
  DirItem cur_dir_info;     // copy of the directory item of cur_cluster
  uint32_t packed;          // write side: 1 = the file continues a cut recording
  uint32_t ud_written;      // write side: 1 = user data has been stored for the file
  uint32_t ud_pending;      // write side: 1 = user data waits for the first cluster
  uint8_t user_data[kUserDataBytes];  // write side: the file's user-data record
  uint32_t ref_time;        // write side: creation time; adapter: start time from the path
                            //   name; find handles: start of the listed day
  uint32_t best_time;       // time search: start time of the best candidate so far
  // ---- Adapter ----
  uint8_t* raw_buffer;      // adapter: allocated read buffer
  uint8_t* buffer;          // adapter: raw_buffer aligned to 512 bytes; null = no buffer
  uint32_t buffer_size;     // adapter: 4096 or 32768 bytes
  uint32_t position;        // adapter: byte position in the raw file
  uint32_t buffer_pos;      // adapter: byte position of the buffer's first byte;
                            //   kAdapterBufferEmpty = nothing buffered
  uint32_t base_offset;     // adapter: bytes hidden at the start of the file (header)
  // ---- Validity and searches ----
  int32_t fs_change;        // the generation counter when the handle was allocated
  TimeSection* sections;    // head of the section list of the last time search
  uint8_t buf_dirty;        // adapter: the buffer holds bytes not yet written
  uint8_t kind;             // adapter: kHandleRecording, kHandleWorkDir, kHandleWorkDirRead
  uint32_t search_serial;   // time search: which section list `sections` heads (file_search.h)
};

// ---- The handle table -------------------------------------------------------------------

// Clears all 256 records to zero (every one free and stamped with no generation). Library
// start-up needs no call: the records are cleared in the same way before their first use after
// the driver table was reset (reset_driver_table in driver.h). Returns nothing.
void clear_file_handles();

// The record of slot 0..kMaxFileHandles-1, free or not; null for another slot number. For the
// adapter's sweeps over the table and for tests.
FILEHANDLE* file_handle_slot(int slot);

// Checks a handle (rule 2 above). Returns FS_OK, or FS_INVALID_HANDLE after the trace "INVALID
// HANDLE: unit,line stamp generation" naming the caller (`where`).
int check_handle(const FILEHANDLE* h, std::source_location where = std::source_location::current());

// Takes the first free record, clears it and stamps it with the current generation; the caller
// sets file_flag. Purpose kPurposeCreate also requires the work driver of `type` (trace "none
// available work driver" otherwise); other purposes ignore the type. Returns the record, or
// null (trace "none available handle" when all 256 are in use).
FILEHANDLE* alloc_handle(int purpose, int type);

// The same search without the purpose check (the adapter's allocator). Returns the record or null.
FILEHANDLE* alloc_adapter_handle();

// Checks the handle table's rules. Returns an empty string when they all hold, else the rule's
// number, the slot and what is wrong.
std::string file_handles_check();

// ---- Open, position and read --------------------------------------------------------------

// Opens a handle for reading (file_flag kFileReadingAlt when alternate is non-zero, else
// kFileReading) on the first driver-table entry in use, not yet positioned; a positioning
// operation must follow. Returns FS_OK with out set, or FS_NO_HANDLE with out null when no
// record is free (warning "cannot open a recording: all 256 file handles are in use") or no driver is mounted.
int krt_file_open(FILEHANDLE*& out, uint8_t mode, int alternate);

// Puts the handle on cluster c of its driver at offset 0 and takes over c's directory item:
// channel, alarm, AV, image, clus_sectors (the item's end_length, at most sector_per_clus, when
// c is the file's last cluster and end_length is not 0; else sector_per_clus), up_cluster,
// first_cluster and curr_clus_num. Nothing changes on failure. Returns FS_OK, FS_NO_EXIST_FILE
// when the handle has no driver, FS_BAD_CLUSTER when c is not a data cluster (c >= total_clus)
// or the driver's sector_per_clus is 0, or the directory accessor's error.
int load_clus(FILEHANDLE* h, uint32_t c);

// Puts an open reading handle on the first cluster of the file that starts at cluster c of
// driver (disk, part). Returns FS_OK; FS_NO_EXIST_FILE when there is no such driver (error
// "partition P of disk D is not mounted") or c is not a file's first cluster (error "cluster C
// is not where a recording starts ..."); FS_INVALID_HANDLE when the check fails or the handle is not open
// for reading (error "Invalid file read handle!"); load_clus's errors. On failure the handle
// stays where it was.
int krt_file_goto_clus(FILEHANDLE* h, int disk, int part, uint32_t c);

// Reads n whole sectors of the file at the handle's position into buf (n x 512 bytes) and
// moves the position on, crossing into the file's next clusters as needed (the next cluster is
// the next one of the file's channel in the cluster index; its directory item must name the
// same first cluster). At the end of the file:
//   - a read that runs past the end of the last cluster copies what is left, fills the rest of
//     buf with 0xFF bytes and returns FS_OK with the position at the end of the file;
//   - a read that starts exactly at the end of the file returns FS_READ_FAIL.
// Returns FS_OK; FS_INVALID_HANDLE; FS_NO_EXIST_FILE when the handle is not positioned;
// FS_READ_FAIL when a disk read fails, a transfer would leave the disk, or no next cluster of
// the file is found (buf may then hold the sectors read so far and the position stays after
// them); the cluster search's and load_clus's errors.
int krt_file_read(FILEHANDLE* h, uint8_t* buf, uint32_t n);

// Sets *sectors (when not null) to the position in sectors from the file's start:
// curr_clus_num x sector_per_clus + cur_offset, or 0 when not positioned. Returns FS_OK or
// FS_INVALID_HANDLE.
int krt_file_tell(FILEHANDLE* h, uint32_t* sectors);

// ---- What the file is -----------------------------------------------------------------------

// Sets channel, alarm (record type), image and av of the current cluster; null outs are
// skipped. Returns FS_OK, FS_INVALID_HANDLE, or FS_NO_EXIST_FILE when not positioned.
int krt_get_file_info(FILEHANDLE* h, uint8_t* channel, uint8_t* alarm, uint8_t* image, uint8_t* av);

// Sets the file's start and end time (from its first cluster's item) and its length in KB:
// (item_num x sector_per_clus + end_length) / 2 of the first cluster's item, or, for a handle
// being written, (total_clus_num x sector_per_clus + end_offset) / 2. Null outs are skipped.
// Returns FS_OK, FS_INVALID_HANDLE, FS_NO_EXIST_FILE when not positioned, or the directory
// accessor's error.
int krt_get_file_info2(FILEHANDLE* h, uint32_t* start, uint32_t* end, uint32_t* length_kb);

// Sets *sector_per_clus (when not null) to the handle's driver's cluster size. Returns FS_OK,
// FS_INVALID_HANDLE, or FS_NO_EXIST_FILE when the handle has no driver.
int krt_get_clus_sectors(FILEHANDLE* h, uint32_t* sector_per_clus);

// Writes the file's path name into text (at most size bytes, always terminated when size > 0):
// "/mnt/ide<disk letter><part>/YYYY-MM-DD/<channel + 1>/HH.MM.SS-HH.MM.SS[T][@first][0].h264"
// (".jpg" when AV is 0; T is R, A, M, C, H, or ? for any other record type; the repeat field is
// always 0). Returns FS_OK, or the error of krt_get_file_info2.
int krt_file_get_path(FILEHANDLE* h, char* text, size_t size);

// Stores the caller's mode value. Returns FS_OK or FS_INVALID_HANDLE.
int fs_file_set_mode(FILEHANDLE* h, uint8_t mode);

// ---- Close ----------------------------------------------------------------------------------

// Frees an open handle, and its mirror the same way; a recording being written first gets its
// directory items brought up to date and written (pack_file of file_write.h). Returns FS_OK;
// FS_INVALID_HANDLE when the check fails or the record is not open (warning "Not a active file
// handle!").
int krt_file_close(FILEHANDLE* h);

// krt_file_close on each of the 256 slots in order (free slots are refused as above), then
// writes back every dirty cache buffer. Returns FS_OK.
int krt_file_close_all();

}  // namespace krt
