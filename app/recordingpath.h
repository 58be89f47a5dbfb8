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
// This reader is deliberately small: it takes the partition, the day, the channel, the two
// clock times and the file name, which is what a player needs (its duration, the name of a
// local record). It does not read the bracketed fields or the extension; the adapter, which
// has to find the file on the disk, reads the whole name itself. Numbers are decimal digits
// without a sign, at most as many as the form writes ("8.0.0" reads like "08.00.00"), and must
// lie in their ranges; anything else does not read.
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
  int startSeconds = 0;  // start clock time, seconds after midnight (0-86399)
  int endSeconds = 0;    // end clock time, seconds after midnight (0-86399)
  std::string fileName;  // the last component, as written ("08.00.00-08.15.00[R][@1a2f][0].h264")
};

// Reads a partition-rooted name "ide<L><P>/<YYYY>-<MM>-<DD>/<CCC>/<hh>.<mm>.<ss>-<hh>.<mm>.<ss>..."
// into *out. The file component must be the last one and may carry anything after the end
// time. Returns true when every field read and lay in its range; false otherwise, with *out
// unchanged.
bool ParseRecordingName(std::string_view name, RecordingName* out);

// Reads a full path: "/mnt/" followed by a partition-rooted name (see ParseRecordingName).
// Returns true when it read; false otherwise, with *out unchanged.
bool ParseRecordingPath(std::string_view path, RecordingName* out);

// The recording's length in seconds from its clock times: end - start, where an end time
// earlier than the start time lies on the next day (a recording running past midnight).
// 0 when both are equal. Always 0-86399.
int RecordingDuration(const RecordingName& name);
