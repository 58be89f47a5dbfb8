// Recording path names, read as the viewer needs them.
//
// The recorder disk adapter shows every recording under "/mnt" with a name that says where and
// when it was recorded:
//
//   /mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264
//        |     |          |   |        |        |  |     |   '-- "h264" or "jpg"
//        |     |          |   |        |        |  |     '------ repeat number
//        |     |          |   |        |        |  '------------ first cluster (hex)
//        |     |          |   |        |        '--------------- record type letter
//        |     |          |   |        '------------------------ end clock time (may be on the
//        |     |          |   |                                  next day)
//        |     |          |   '--------------------------------- start clock time
//        |     |          '------------------------------------- channel + 1, 001-064
//        |     '------------------------------------------------ day of the start
//        '------------------------------------------------------ "ide", disk letter ('a' = the
//                                                                first recorder disk), partition
//
// The viewer also writes the partition-rooted form, the same without "/mnt/".
//
// Names are read by the recorder disk library's own grammar (krt/recording_path.h), so every
// name the adapter lists reads here, and nothing else does: each component must have exactly
// the shape above, with clock values as wide as the disk stores them (hour 0-31, minute and
// second 0-63), and the type letter and extension must be present.
#pragma once

#include <string>
#include <string_view>

struct RecordingName {
  int disk = 0;          // disk index: the letter after "ide" minus 'a' (0-31)
  int partition = 0;     // partition number, 0-3
  int year = 0;          // day the recording starts: 2000-2063,
  int month = 0;         //   1-12,
  int day = 0;           //   1-31
  int channel = 0;       // channel number as written, 1-64 (the recorder's channel + 1)
  int startSeconds = 0;  // start clock time, seconds after midnight as written (0-115443:
  int endSeconds = 0;    // end clock time     the disk may store hours up to 31)
  std::string fileName;  // the last component, as written ("08.00.00-08.15.00[R][@1a2f][0].h264")
};

// Reads a partition-rooted name "ide<L><P>/<YYYY>-<MM>-<DD>/<CCC>/<file component>" into *out.
// Returns true when every component follows the grammar; false otherwise, with *out unchanged.
bool ParseRecordingName(std::string_view name, RecordingName* out);

// Reads a full path: "/mnt/" followed by a partition-rooted name (see ParseRecordingName).
// Returns true when it read; false otherwise, with *out unchanged.
bool ParseRecordingPath(std::string_view path, RecordingName* out);

// The recording's length in seconds from its clock times: end - start, where an end time
// earlier than the start time lies on the next day (a recording running past midnight), taken
// modulo one day. 0 when both are equal. Always 0-86399.
int RecordingDuration(const RecordingName& name);
