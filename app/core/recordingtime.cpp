// Time in recordings (see recordingtime.h).
#include "recordingtime.h"

#include <cstdlib>

QDateTime RecordingStart(const RecordingName& name) {
  const QDate day(name.year, name.month, name.day);
  if (!day.isValid()) return {};
  return QDateTime(day, QTime(0, 0)).addSecs(name.startSeconds);
}

int64_t OffsetInRecording(const RecordingName& name, const QDateTime& moment) {
  const QDateTime start = RecordingStart(name);
  if (!start.isValid() || !moment.isValid()) return -1;
  const int64_t ms = start.msecsTo(moment);
  const int64_t length = int64_t{RecordingDuration(name)} * 1000;
  return ms >= 0 && (ms < length || ms == 0) ? ms : -1;
}

QString FormatSpan(int64_t seconds) {
  seconds = std::max<int64_t>(seconds, 0);
  const auto two = [](int64_t v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
  if (seconds >= 3600)
    return two(seconds / 3600) + ':' + two(seconds / 60 % 60) + ':' + two(seconds % 60);
  return two(seconds / 60) + ':' + two(seconds % 60);
}

namespace {

QString PictureClock(const RecordingName& name, int64_t pictureMs) {
  const QDateTime start = RecordingStart(name);
  if (!start.isValid()) return {};
  return start.addMSecs(std::max<int64_t>(pictureMs, 0))
      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

QString BarTimeText(const RecordingName& name, int64_t pictureMs) {
  return PictureClock(name, pictureMs) + QStringLiteral("  ") +
         FormatSpan(std::max<int64_t>(pictureMs, 0) / 1000) + QStringLiteral(" / ") +
         FormatSpan(RecordingDuration(name));
}

QString WindowTimeText(const RecordingName& name, int64_t pictureMs, int speedSteps) {
  QString text = QStringLiteral("CH %1  ").arg(name.channel, 2, 10, QLatin1Char('0')) +
                 PictureClock(name, pictureMs);
  if (speedSteps > 0) text += QStringLiteral("  ×%1").arg(1 << speedSteps);
  if (speedSteps < 0) text += QStringLiteral("  ×1/%1").arg(1 << -speedSteps);
  return text;
}

std::string RecordingAt(const std::vector<std::string>& candidates, int channel,
                        const QDateTime& moment, int64_t* offsetMs) {
  for (const std::string& path : candidates) {
    RecordingName name;
    if (!ParseRecordingPath(path, &name) || name.channel != channel) continue;
    const int64_t ms = OffsetInRecording(name, moment);
    if (ms < 0) continue;
    if (offsetMs) *offsetMs = ms;
    return path;
  }
  return {};
}
