// The adapter's units share these: the serialisation of the slots, handle checks, the read
// buffers, the header check and each slot's body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "krt/dir_index.h"
#include "krt/driver.h"
#include "krt/file.h"
#include "vfs/fileops.h"

namespace krt::adapt {

// ---- Serialisation ----------------------------------------------------------------------------

// Calls the enter hook when made and the leave hook (the one paired with that enter) when gone.
class SlotScope {
 public:
  SlotScope();
  ~SlotScope();
  SlotScope(const SlotScope&) = delete;
  SlotScope& operator=(const SlotScope&) = delete;

 private:
  void (*leave_)();
};

// ---- Handles ----------------------------------------------------------------------------------

// The handle behind a slot's opaque handle when it passes the file layer's check and is open;
// null otherwise (never dereferences a pointer that is not a record of the table).
FILEHANDLE* open_handle(const void* handle);

// The table slot of a record of the handle table; -1 for any other pointer.
int handle_slot(const void* handle);

// True when the driver is in disk error (trace "Disk error!").
bool disk_error(const DriverParam* pdp);

// Gives a handle a read buffer of `size` bytes aligned to 512. Returns false when memory is short.
bool attach_buffer(FILEHANDLE* h, uint32_t size);

// Frees the handle's read buffer, if any.
void release_buffer(FILEHANDLE* h);

// Marks free (and frees the buffer of) a record that is in use on a driver in disk error but
// no longer valid. Returns nothing.
void drop_dead_record(FILEHANDLE* h);

// The byte length of a file of length_kb kilobytes, capped below 4 GiB.
uint32_t length_bytes(uint64_t length_kb);

// Whether the handle's buffer holds byte position pos (pos may be its end).
bool buffer_holds(const FILEHANDLE* h, uint64_t pos);

// Puts the file layer at byte position pos (a multiple of 512) unless it stands there already.
// Returns false when it cannot be moved there.
bool place_file_layer(FILEHANDLE* h, uint32_t pos);

// ---- The "DHII" header ------------------------------------------------------------------------

// The header length in sectors of the file whose first cluster is c: hdr_sectors of the item
// when set, else read from the file's first sector (0 without a header, or when the sector
// cannot be read).
uint16_t header_sectors(const DriverParam& pdp, uint32_t c, const DirItem& item);

// The header check of an open: when the current (first) cluster's hdr_sectors is 0 and the
// file begins with a header, stores its length in sectors in the handle's item and in the
// directory (through the cache). Returns the header length in sectors.
uint16_t check_header(FILEHANDLE* h);

// ---- Time order ---------------------------------------------------------------------------

// Walks on the time-ordered merge of all partitions that the last file_goto_work_driver on h
// began (channel ch, from time t) to the first recording that lies on `driver` and
// starts at or after (t, repeat number e); recordings of other partitions, and those that
// started earlier (running into t), are passed over. The walk ends, returning 0, when the
// merge ends, a recording starts `within` seconds or more after t, or an item cannot be read.
// The channel is passed, not taken from h: standing on a file puts that file's own channel
// into h, which a damaged item may give wrongly. Returns the recording's first cluster, with its
// directory item in item.
uint32_t next_file_on(FILEHANDLE* h, uint8_t ch, const DriverParam* driver, uint32_t t, uint8_t e,
                      int32_t within, DirItem& item);

// Whether a listing of channel `channel` of the day starting at packed time `day` on pdp (the
// find slots' search) finds a recording. Returns false also when no handle slot is free.
bool channel_day_lists(DriverParam* pdp, uint8_t channel, uint32_t day);

// The days on which channel folders of pdp list a recording, by the day's packed midnight,
// with bit c set for channel c: the days and channels the file starts after cluster `from`
// name (for_each_file_start), each confirmed by the listing's own search (channel_day_lists),
// so a calendar built from them shows a day exactly when a channel folder of it lists. With
// first_only, a day keeps only its first channel that lists.
std::map<uint32_t, uint64_t> listed_channel_days(DriverParam* pdp, uint32_t from, bool first_only);

// ---- Slots ------------------------------------------------------------------------------------

FSHandle open(const char* path, const char* mode);
int close(FSHandle file);
size_t read(void* buffer, size_t size, size_t count, FSHandle file);
size_t write(const void* buffer, size_t size, size_t count, FSHandle file);
int flush(FSHandle file);
int rename(const char* old_path, const char* new_path);
int seek(FSHandle file, int32_t offset, int origin);
int32_t tell(FSHandle file);
FSFindHandle find_first(const char* pattern, FSFindData* data);
int find_next(FSFindHandle find, FSFindData* data);
int find_close(FSFindHandle find);
int disk_space(const char* path, uint64_t* free_to_caller, uint64_t* total, uint64_t* free);

// The work-directory read: rebuilds the calendar of h's partition into out (kWorkCalendarBytes).
// A day is marked exactly when a channel folder of it lists a recording: the file starts of the
// cluster index name the candidate days and channels, and each day is kept only when the find
// slots' search of one of its channels finds a recording (on a damaged disk the two can differ).
// Returns false when no handle slot is free (trace "fs_findfirst() Get the Handle error!").
bool read_work_calendar(FILEHANDLE* h, uint8_t* out);

}  // namespace krt::adapt
