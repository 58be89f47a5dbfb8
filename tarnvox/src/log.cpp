// The engine's log (see log.h).
#include "log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>

namespace tarnvox {

Q_LOGGING_CATEGORY(lcEngine, "tarnvox", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFfmpeg, "tarnvox.ffmpeg", QtWarningMsg)

namespace {

void ffmpegLog(void* avcl, int level, const char* fmt, va_list args)
{
    if (level > AV_LOG_ERROR)
        return;
    bool severe = level <= AV_LOG_FATAL;
    if (severe ? !lcFfmpeg().isWarningEnabled() : !lcFfmpeg().isInfoEnabled())
        return;
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &printPrefix);
    QByteArray text = QByteArray(line).trimmed();
    if (severe)
        qCWarning(lcFfmpeg, "%s", text.constData());
    else
        qCInfo(lcFfmpeg, "%s", text.constData());
}

} // namespace

void routeFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(ffmpegLog);
    });
}

} // namespace tarnvox
