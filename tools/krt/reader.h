// Reading one recording through CFSFile, block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Bytes asked of CFSFile::Read at a time: a multiple of 512 and more than half the adapter's
// buffer, so every read goes straight from the disk into the caller's block.
constexpr uint32_t kReadBlockBytes = 1u << 20;

// Receives the bytes of a recording in order. Returns false to stop the read (the sink then
// says why in its own way).
using BlockSink = std::function<bool(const uint8_t* data, size_t size)>;

// Opens path (a recording under /mnt) with CFSFile, reads it to its end -- the bytes after any
// hidden header, exactly as the adapter's read delivers them -- and hands them to sink.
// Sets bytes to the number of bytes handed over. Returns true when the whole length the file
// reports (CFSFile::GetLength) was read and taken; false with error set when the file does not
// open, a read ends early, or the sink stops (error then says where it stopped).
bool read_recording(const std::string& path, const BlockSink& sink, uint64_t& bytes,
                    std::string& error);
