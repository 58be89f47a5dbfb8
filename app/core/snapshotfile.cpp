// Snapshot files and their sidecar (see snapshotfile.h).
#include "snapshotfile.h"

#include <QDateTime>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <filesystem>

#include <catalog/sha256.h>
#include <krt/disk.h>

namespace {

const char* Extension(SnapshotFormat format) { return format == SnapshotFormat::Png ? "png" : "bmp"; }

// The recorder's clock time of a picture: the recording's start from its name (hours past 23
// lie on the next day) plus the picture's distance from the first picture.
QDateTime PictureTime(const RecordingName& recording, int64_t positionUs) {
  const QDateTime start(QDate(recording.year, recording.month, recording.day), QTime(0, 0),
                        Qt::UTC);
  return start.addSecs(recording.startSeconds).addMSecs(positionUs / 1000);
}

}  // namespace

std::string UnusedFilePath(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) return path;
  const fs::path original(path);
  const std::string stem = (original.parent_path() / original.stem()).string();
  const std::string ext = original.extension().string();
  for (int n = 2; n < 10000; ++n) {
    std::string candidate = stem + "_" + std::to_string(n) + ext;
    if (!fs::exists(candidate, ec) && !ec) return candidate;
  }
  return {};
}

std::string SnapshotFileName(const RecordingName& recording, int64_t positionUs,
                             SnapshotFormat format) {
  const QString when = PictureTime(recording, positionUs).toString("yyyy-MM-dd_HH-mm-ss.zzz");
  return QStringLiteral("CH%1_%2.%3")
      .arg(recording.channel, 2, 10, QLatin1Char('0'))
      .arg(when, QString::fromLatin1(Extension(format)))
      .toStdString();
}

std::string WriteSnapshotFiles(const std::string& folder, const std::string& recordingPath,
                               const SnapshotPicture& picture, SnapshotFormat format,
                               std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  RecordingName name;
  if (!ParseRecordingPath(recordingPath, &name)) {
    *error = "not a recording path: " + recordingPath;
    return {};
  }
  const std::string fileName = SnapshotFileName(name, picture.positionUs, format);
  const std::string wanted =
      folder.empty() || folder.back() == '/' ? folder + fileName : folder + "/" + fileName;
  const std::string path = UnusedFilePath(wanted);
  if (path.empty()) {
    *error = "no free file name beside " + wanted;
    return {};
  }
  const QString qpath = QString::fromLocal8Bit(path);

  QImageWriter writer(qpath, Extension(format));
  if (!writer.write(picture.image)) {
    *error = writer.errorString().toStdString();
    return {};
  }
  std::string sha;
  uint64_t bytes = 0;
  if (!sha256_file(path, sha, bytes)) {
    *error = "cannot read back " + path;
    return {};
  }

  QJsonObject sidecar;
  sidecar["image"] = QString::fromStdString(fileName);
  sidecar["format"] = QString::fromLatin1(Extension(format));
  sidecar["recording"] = QString::fromStdString(recordingPath);
  sidecar["disk"] = name.disk;
  sidecar["disk_source"] = QString::fromStdString(krt::disk_source(name.disk));
  sidecar["partition"] = name.partition;
  sidecar["channel"] = name.channel;
  sidecar["picture_time"] =
      PictureTime(name, picture.positionUs).toString("yyyy-MM-ddTHH:mm:ss.zzz");
  sidecar["picture_offset_ms"] = static_cast<qint64>(picture.positionUs / 1000);
  sidecar["picture_index"] = static_cast<qint64>(picture.index);
  sidecar["source"] = QStringLiteral("decoded picture at its own size, %1x%2, not the window's view")
                          .arg(picture.image.width())
                          .arg(picture.image.height());
  sidecar["sha256"] = QString::fromStdString(sha);
  QSaveFile json(qpath + ".json");
  if (!json.open(QIODevice::WriteOnly) ||
      json.write(QJsonDocument(sidecar).toJson()) < 0 || !json.commit()) {
    *error = json.errorString().toStdString();
    return {};
  }
  return path;
}
