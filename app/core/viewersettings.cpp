#include "viewersettings.h"

#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <iterator>

#include "appdirs.h"

namespace vendrel {
namespace {

constexpr int kLayouts[] = {1, 4, 6, 9, 16, 25, 36};

QString UnderStandard(QStandardPaths::StandardLocation location) {
  return QStandardPaths::writableLocation(location) + QStringLiteral("/Vendrel");
}

}  // namespace

QString ViewerSettingsPath() { return QString::fromStdString(ConfigDir()) + QStringLiteral("viewer.ini"); }

QString DefaultSnapshotFolder() { return UnderStandard(QStandardPaths::PicturesLocation); }
QString DefaultRecordFolder() { return UnderStandard(QStandardPaths::MoviesLocation); }

ViewerSettings LoadViewerSettings() {
  const QSettings file(ViewerSettingsPath(), QSettings::IniFormat);
  ViewerSettings s;
  s.geometry = file.value("Window/Geometry").toByteArray();
  s.maximized = file.value("Window/Maximized", false).toBool();
  const int layout = file.value("Window/Layout", s.layout).toInt();
  if (std::find(std::begin(kLayouts), std::end(kLayouts), layout) != std::end(kLayouts)) s.layout = layout;
  s.timeLabels = file.value("Window/TimeLabels", true).toBool();
  s.snapshotFolder = file.value("Folders/Snapshots").toString();
  if (s.snapshotFolder.isEmpty()) s.snapshotFolder = DefaultSnapshotFolder();
  s.recordFolder = file.value("Folders/Recordings").toString();
  if (s.recordFolder.isEmpty()) s.recordFolder = DefaultRecordFolder();
  s.exportFolder = file.value("Folders/Exports").toString();
  return s;
}

bool SaveViewerSettings(const ViewerSettings& s) {
  QSettings file(ViewerSettingsPath(), QSettings::IniFormat);
  file.setValue("Window/Geometry", s.geometry);
  file.setValue("Window/Maximized", s.maximized);
  file.setValue("Window/Layout", s.layout);
  file.setValue("Window/TimeLabels", s.timeLabels);
  file.setValue("Folders/Snapshots", s.snapshotFolder);
  file.setValue("Folders/Recordings", s.recordFolder);
  file.setValue("Folders/Exports", s.exportFolder);
  file.sync();
  return file.status() == QSettings::NoError;
}

}  // namespace vendrel
