// What the viewer remembers between runs: the main window's place and state, the layout, the
// windows' time labels, and the folders captures and exports go to. (The timeline panel's
// toggle and the tree's width are kept in Config.ini with the program's other view settings.)
//
// The settings live in the user's configuration folder, "viewer.ini" beside Config.ini
// (appdirs.h), as an INI file of QSettings. A missing or unreadable file, or a missing or
// broken value, gives the default; nothing read from it is trusted further than its type.
#pragma once

#include <QByteArray>
#include <QString>

namespace vendrel {

struct ViewerSettings {
  QByteArray geometry;     // the main window's geometry (QWidget::saveGeometry); empty: none yet
  bool maximized = false;  // the main window was maximised
  int layout = 4;          // windows of the grid's layout: 1, 4, 6, 9, 16, 25 or 36
  bool timeLabels = true;  // each busy window draws its picture's time
  QString snapshotFolder;  // where snapshots go
  QString recordFolder;    // where local recordings go
  QString exportFolder;    // the folder the last export went to; empty: none yet
};

// The settings file: ConfigDir() + "viewer.ini".
QString ViewerSettingsPath();

// $XDG_PICTURES_DIR/Vendrel and $XDG_VIDEOS_DIR/Vendrel (the home folder's Pictures and
// Videos when the user has none set).
QString DefaultSnapshotFolder();
QString DefaultRecordFolder();

// Reads the settings file; every value missing or out of range is the default (the capture
// folders' defaults above).
ViewerSettings LoadViewerSettings();

// Writes the settings file. Returns false when it could not be written.
bool SaveViewerSettings(const ViewerSettings& settings);

}  // namespace vendrel
