// One recording remuxed into an MP4 file, without decoding or encoding a picture.
//
// The recording is read through CFSFile (reader.h) and demuxed by libavformat from memory
// (the formats recorders write: raw H.264/H.265 elementary streams, MPEG program and transport
// streams, motion JPEG; a stream can never open another file). The video stream is copied
// packet for packet; each sound stream is copied when MP4 can carry its codec and otherwise
// left out with a note. Time stamps start at zero (a raw elementary stream, which has none, is
// timed by its frame rate, 25 a second when it names none) and the file's creation time is the
// recording's start. The file is written to a hidden temporary name next to the target and
// renamed over it once complete: a recording that cannot be remuxed leaves nothing behind.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// What an MP4 export wrote.
struct Mp4Export {
  std::string sha256;         // of the MP4 file written
  std::string source_sha256;  // of the recorded bytes it came from
  uint64_t source_bytes = 0;  // how many recorded bytes were read
  uint64_t bytes = 0;         // size of the MP4 file
  std::vector<std::string> notes;  // what was left out ("sound stream 1 (pcm_alaw) left out: ...")
};

// Remuxes the recording at path (a /mnt path whose listing gave it expected_bytes) into target,
// with start (seconds since 1970, UTC) as its creation time. Returns true with out filled;
// false with error set (no file is left at target's temporary name, and an earlier file at
// target is kept): the recording cannot be read to its end, holds no video stream libavformat
// recognises, or a packet cannot be written.
bool export_mp4(const std::string& path, uint64_t expected_bytes, std::time_t start,
                const std::string& target, Mp4Export& out, std::string& error);

// The name of the MP4 copy of a recording: its name with the extension replaced by ".mp4".
std::string mp4_name(const std::string& recording_name);
