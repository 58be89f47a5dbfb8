// The local record of a port (see recorder.h).
#include "recorder.h"

#include "log.h"

namespace tarnvox {

bool Recorder::start(const char* path)
{
    FILE* file = path && *path ? std::fopen(path, "wbe") : nullptr;
    std::lock_guard lock(mu_);
    if (file_)
        std::fclose(file_);
    file_ = file;
    return file_ != nullptr;
}

bool Recorder::stop()
{
    std::lock_guard lock(mu_);
    if (!file_)
        return false;
    if (std::fclose(file_) != 0)
        qCWarning(lcEngine, "record file could not be closed cleanly");
    file_ = nullptr;
    return true;
}

void Recorder::write(const uint8_t* data, size_t length)
{
    std::lock_guard lock(mu_);
    if (!file_)
        return;
    if (std::fwrite(data, 1, length, file_) != length) {
        qCWarning(lcEngine, "record ended: write failed");
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool Recorder::running() const
{
    std::lock_guard lock(mu_);
    return file_ != nullptr;
}

} // namespace tarnvox
