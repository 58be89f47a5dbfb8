// Positioning a file handle: by time across partitions, file after file in time order, and
// moves inside the open file.
//
// A partition (driver) is a ring of clusters written in time order, the clusters of up to 64
// channels interleaved. Its time sections (sections.h) are the runs of clusters inside which
// the directory items' start times rise, each with its first and last cluster and time. A time
// search binary-searches the start times inside each section (file_goto_driver) and keeps the
// best answer over all sections of all selected drivers (file_goto_work_driver).
//
// Search kinds are those of the index search (dir_index.h); the time search uses
//   kScanNext (2)      the first cluster of the channel whose time reaches t: the cluster
//                      covering t, or the next one;
//   kScanNextFile (3)  the first file start of the channel at or after (t, hint);
//   kScanPrev (7)      the last cluster of the channel starting at or before t;
//   kScanPrevFile (8)  the last file start of the channel whose file ended at or before t.
// The channel kAnyChannel matches every channel.
//
// Repeat numbers. Files of one channel that start in the same second are told apart by the
// repeat number of their first cluster (byte 30 of the item). Every comparison of a search
// position (t, hint) with a cluster's (start time, repeat number) is lexicographic.
//
// Masks. Driver mask: bit i selects the drivers of type i (0..4; the viewer passes 255).
// File-type mask: bit t accepts files whose record type is t; only the low 8 bits count.
//
// Search state. The sections' working fields (next, cursor, state, cand_time) belong to the
// drivers, not to a handle; a search through one handle overwrites what an earlier search
// through another left. krt_file_next_in_time continues the section list that the last
// file_goto_work_driver on the same handle built; when another search has reused the sections
// in between, it rebuilds its merge and carries on after the file it returned last.
//
// Every function takes library_lock() for its whole run and starts with the handle check of
// file.h (FS_INVALID_HANDLE). A search that fails leaves the handle where it was.
#pragma once

#include <cstdint>

#include "krt/driver.h"
#include "krt/file.h"

namespace krt {

// ---- Time search (one driver, all drivers, time order) -------------------------------------

// Positions h on the cluster that `kind` asks for (t, hint e) inside the cluster range [lo, hi]
// of one time section of h's driver, for h's channel: a binary search on start times, a local
// adjustment (at most 32 clusters forward for backward kinds, 128 backward for forward kinds)
// and an index search. Returns FS_OK; FS_NO_EXIST_FILE when nothing is found inside [lo, hi],
// the range is empty or the driver has no index; FS_READ_FAIL when the index search finds
// nothing; the directory and index accessors' errors.
int file_goto_driver(FILEHANDLE* h, uint32_t t, uint32_t lo, uint32_t hi, int kind, uint8_t e);

// Links the valid time sections of every driver in use and not in disk error into one list:
// forward lists by start time ascending, backward lists by end time descending, ties in table
// order. Each section gets state 0 and its cursor on its first (forward) or last cluster. A
// section is valid when its end time is not 0, its first cluster is not after its last and its
// start time is not after its end time. Returns the head of the list, or null when it is empty.
TimeSection* build_section_list(bool forward);

// Positions h, by time t and hint e, on the cluster that `kind` asks for over the time
// sections of all drivers selected by driver_mask, for channel ch (stored in h). Files whose
// record type type_mask does not accept are passed over (kinds 3 and 8 search on from them;
// other kinds return them). Keeps the section list in h->sections for krt_file_next_in_time.
// Returns FS_OK; FS_NO_EXIST_FILE when no section has an answer; load_clus's errors.
int file_goto_work_driver(FILEHANDLE* h, uint8_t ch, uint32_t t, int kind, uint8_t e,
                          uint32_t type_mask, uint32_t driver_mask);

// The next file of channel ch in ascending start time over the sections of h's last
// file_goto_work_driver, starting at time t (the caller passes the same t every time):
// a merge of the sections, positioning untouched ones lazily (kind 2 at t, hint = skip). A
// section's first answer is the start of the file holding the cluster its search found (the
// one covering t, or the next); with skip non-zero it is the next file start after that cluster. Puts h on the file's first cluster and sets h->best_time to its start time.
// Returns that cluster's number, or 0 when there is none (or the handle check fails).
uint32_t krt_file_next_in_time(FILEHANDLE* h, uint8_t ch, uint32_t t, uint8_t skip,
                               uint32_t driver_mask);

// Moves h to sector n of its file (n equal to the file's length is allowed). A position on a
// cluster boundary stands at the end of the earlier cluster; a following read continues in the
// next one. A handle being written moves its mirror too. Returns FS_OK; FS_NO_EXIST_FILE when
// h is not positioned; FS_OUT_OF_RANGE (h unchanged) when n lies beyond the file or the file's
// clusters run out before it; the directory accessor's errors.
int krt_file_moveto_len(FILEHANDLE* h, uint32_t n);

// ---- Navigation (wrappers over file_goto_work_driver, hint 0 unless said) ------------------

// The cluster of channel ch covering time t, or the next one (kind 2).
int krt_file_goto_time(FILEHANDLE* h, uint8_t ch, uint32_t t, uint32_t type_mask, uint32_t driver_mask);

// The oldest file of h's channel (kind 3 from time 0).
int krt_file_goto_first(FILEHANDLE* h, uint32_t type_mask, uint32_t driver_mask);

// The newest file of h's channel (kind 8 from the latest time).
int krt_file_goto_last(FILEHANDLE* h, uint32_t type_mask, uint32_t driver_mask);

// Sets h's channel to ch, then krt_file_goto_last.
int krt_file_goto_last_ch(FILEHANDLE* h, uint8_t ch, uint32_t type_mask, uint32_t driver_mask);

// The file after h's current file: kind 3 from its start with hint = its repeat number + 1 (the
// next second with hint 0 after repeat number 255). When there is none and wrap is non-zero,
// krt_file_goto_first. FS_NO_EXIST_FILE when h is not positioned.
int krt_file_goto_next(FILEHANDLE* h, int wrap, uint32_t type_mask, uint32_t driver_mask);

// The file before h's current file: kind 8 from its start. When there is none and wrap is
// non-zero, krt_file_goto_last. FS_NO_EXIST_FILE when h is not positioned.
int krt_file_goto_prev(FILEHANDLE* h, int wrap, uint32_t type_mask, uint32_t driver_mask);

// ---- Moves inside the file ----------------------------------------------------------------

// Moves h by n sectors, backward (not below 0) or forward. Returns krt_file_moveto_len's
// result; FS_NO_EXIST_FILE when h is not positioned.
int krt_file_move_size(FILEHANDLE* h, int backward, uint32_t n);

// Moves h to time t of its file: the start for t at or before the file's start, the end for t
// at or after its end; otherwise into the cluster covering t, at the share of its sectors that
// t lies into its seconds, rounded down to a multiple of 16 sectors. Returns FS_OK,
// FS_NO_EXIST_FILE when h is not positioned, or the errors of the moves and reads involved.
int krt_file_moveto_time(FILEHANDLE* h, uint32_t t);

// Moves h by a number of seconds, backward or forward, converted to sectors by the seconds its
// current cluster covers. Returns FS_OK whatever the move gave; FS_NO_EXIST_FILE when h is not
// positioned.
int krt_file_move_second(FILEHANDLE* h, int backward, uint32_t seconds);

// ---- Channel change at the current moment -------------------------------------------------

// Opens, in a new handle, the file of channel ch that was recording at h's current moment
// (the current cluster's start time plus the share of its seconds already read), positioned at
// that moment. When ch is h's channel: warning "already at this channel", FS_OK, out untouched.
// Returns FS_OK or krt_file_moveto_time's result with out set; FS_NO_HANDLE when no record is
// free; FS_NO_EXIST_FILE (no handle kept) when ch has no cluster near h's position.
int fs_file_open_near(FILEHANDLE* h, uint8_t ch, FILEHANDLE*& out);

// The same as fs_file_open_near, moving the existing open handle h2 instead of a new one.
// Returns as fs_file_open_near; on failure h2 stays where it was.
int krt_file_sync(FILEHANDLE* h, uint8_t ch, FILEHANDLE* h2);

}  // namespace krt
