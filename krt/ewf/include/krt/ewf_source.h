// Expert Witness (E01) image sets as disk candidates, read through libewf.
//
// An examiner's image of a recorder disk is often an E01 set: "disk.E01", "disk.E02", ...,
// each segment holding compressed chunks of the disk with a checksum per chunk. Once
// install_ewf_source() has run, a disk candidate whose name ends in ".E01" (any case) -- or
// that starts with the segment signature, whatever its name -- is opened as the whole set,
// from its first segment, read-only; the disk layer then reads its sectors like those of a
// raw image (krt/image_source.h).
//
// A set is refused, with a message naming the segment, when a segment is missing (a gap, or
// the last segment of the set), cannot be read, does not start with the segment signature,
// carries the wrong segment number, or has a section chain that is damaged or cut short. A read
// that touches a chunk whose checksum does not match fails (the disk layer reports a read
// error) rather than returning damaged bytes. A name ending in ".Ex01" (the second version of
// the format) is refused: the libewf of this platform cannot read it. The MD5 and SHA-1 the set
// stores of its media are the source's stored_digests().
#pragma once

#include <string>

#include "krt/image_source.h"

namespace krt {

// Registers the E01 opener with the disk layer (register_source_opener). Safe to call more
// than once. Returns nothing.
void install_ewf_source();

// Opens path as an E01 set (see the top of this file). A file of another name whose content
// starts with the segment signature is opened as a set of that one segment (a renamed image;
// a set that goes on is refused naming its next segment). Returns the source, a refusal
// naming the segment, or an empty result when path is not an E01 segment.
SourceOpen open_ewf_source(const std::string& path);

}  // namespace krt
