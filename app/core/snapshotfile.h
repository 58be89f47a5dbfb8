// Snapshot files an examiner can use: the picture, named after its channel and the recorder's
// time of the picture, and beside it a sidecar that says where the picture comes from.
//
//   <folder>/CH<cc>_<YYYY>-<MM>-<DD>_<hh>-<mm>-<ss>.<mmm>.<bmp|png>
//   <folder>/CH<cc>_....bmp.json
//
// The channel is the path's channel as written; the time is the recording's start from its
// name plus the picture's distance from the recording's first picture, with milliseconds, so
// two pictures of one second get two names. The sidecar (JSON) holds the recording path, the
// disk (index and the image or device it was read from) and partition, the picture's time and
// index in the recording, the image's source and the SHA-256 of the image file.
#pragma once

#include <QImage>

#include <cstdint>
#include <string>

#include "recordingpath.h"

// The picture formats of a snapshot: the recorder's BMP, or lossless PNG.
enum class SnapshotFormat { Bmp, Png };

// A picture of a recording with where it stands in it.
struct SnapshotPicture {
  QImage image;             // at its own size
  int64_t positionUs = 0;   // from the recording's first picture
  int64_t index = 0;        // pictures before it in the recording
};

// The file name (no folder) of a snapshot of `picture` from `recording`.
std::string SnapshotFileName(const RecordingName& recording, int64_t positionUs,
                             SnapshotFormat format);

// path when nothing exists there yet, else the first free "<stem>_2<ext>", "<stem>_3<ext>",
// ... beside it, so that a capture (snapshot or local recording) never replaces an earlier
// file. Empty when no free name is found among the first 9999.
std::string UnusedFilePath(const std::string& path);

// Writes the picture into folder under SnapshotFileName (numbered by UnusedFilePath when that
// name is taken, as by a second snapshot of the same picture) and its sidecar "<file>.json".
// recordingPath: the full "/mnt/..." path the picture comes from. Returns the picture's path;
// empty when the path does not read or a file could not be written (*error then says why).
std::string WriteSnapshotFiles(const std::string& folder, const std::string& recordingPath,
                               const SnapshotPicture& picture, SnapshotFormat format,
                               std::string* error);
