// The engine's log: Qt logging categories "tarnvox" (the engine) and "tarnvox.ffmpeg" (FFmpeg's
// own messages). Both show warnings by default; FFmpeg's errors are info messages there, so a
// corrupt stream stays quiet unless QT_LOGGING_RULES="tarnvox.ffmpeg.info=true" asks for them.
#pragma once

#include <QLoggingCategory>

namespace tarnvox {

Q_DECLARE_LOGGING_CATEGORY(lcEngine)
Q_DECLARE_LOGGING_CATEGORY(lcFfmpeg)

// Sends FFmpeg's log into the category "tarnvox.ffmpeg" (once per process; later calls do
// nothing).
void routeFfmpegLog();

} // namespace tarnvox
