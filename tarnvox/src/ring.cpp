// The input ring of a port (see ring.h).
#include "ring.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarnvox {

bool InputRing::allocate(size_t capacity)
{
    release();
    try {
        buf_.resize(capacity);
    } catch (const std::bad_alloc&) {
        release();
        return false;
    }
    return true;
}

void InputRing::release()
{
    std::vector<uint8_t>().swap(buf_);
    head_ = 0;
    size_ = 0;
}

bool InputRing::write(const uint8_t* data, size_t length)
{
    if (!allocated() || length > space())
        return false;
    if (length == 0)
        return true;
    size_t tail = (head_ + size_) % buf_.size();
    size_t first = std::min(length, buf_.size() - tail);
    std::memcpy(buf_.data() + tail, data, first);
    std::memcpy(buf_.data(), data + first, length - first);
    size_ += length;
    return true;
}

size_t InputRing::read(uint8_t* out, size_t length)
{
    size_t n = std::min(length, size_);
    if (n == 0)
        return 0;
    size_t first = std::min(n, buf_.size() - head_);
    std::memcpy(out, buf_.data() + head_, first);
    std::memcpy(out + first, buf_.data(), n - first);
    head_ = (head_ + n) % buf_.size();
    size_ -= n;
    if (size_ == 0)
        head_ = 0;
    return n;
}

} // namespace tarnvox
