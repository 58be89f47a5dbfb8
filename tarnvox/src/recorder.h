// The local record of a port: the stream bytes the port's demuxer takes from the start of the
// record on, written to a file exactly as fed. Thread-safe: the decoding thread writes, the
// user-interface thread starts and stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace tarnvox {

class Recorder {
public:
    ~Recorder() { stop(); }

    // Creates or truncates the file at `path` and records into it from now on; a record already
    // running is ended first. false when the file cannot be created.
    bool start(const char* path);
    // Ends the record and closes the file. false when no record was running.
    bool stop();
    // Appends bytes taken for decoding while a record runs. A failed write ends the record.
    void write(const uint8_t* data, size_t length);
    bool running() const;

private:
    mutable std::mutex mu_; // guards file_
    FILE* file_ = nullptr;  // the record file, null when no record runs
};

} // namespace tarnvox
