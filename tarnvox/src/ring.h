// The input ring of a port: a byte FIFO of fixed capacity that takes a block whole or not at all.
// It holds no lock of its own; the port's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnvox {

class InputRing {
public:
    // Allocates `capacity` bytes and empties the ring. false when memory runs out (the ring is
    // then released).
    bool allocate(size_t capacity);
    // Frees the storage; the ring takes nothing until allocated again.
    void release();

    bool allocated() const { return !buf_.empty(); }
    size_t size() const { return size_; }                    // bytes waiting
    size_t capacity() const { return buf_.size(); }
    size_t space() const { return buf_.size() - size_; }     // bytes that fit now

    // Appends all `length` bytes, or nothing when they do not fit. true when appended.
    bool write(const uint8_t* data, size_t length);
    // Moves up to `length` of the oldest bytes to `out`; the count moved.
    size_t read(uint8_t* out, size_t length);

private:
    std::vector<uint8_t> buf_; // storage, empty while released
    size_t head_ = 0;          // index of the oldest byte
    size_t size_ = 0;          // bytes waiting
};

} // namespace tarnvox
