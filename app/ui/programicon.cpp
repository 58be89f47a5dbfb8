// The program mark as an icon, from the sizes drawn for it.
#include "programicon.h"

#include "appdirs.h"

#include <QDir>
#include <QFileInfo>

namespace vendrel {

QIcon ProgramIcon() {
  QIcon icon;
  const QDir icons(QString::fromStdString(ResourceDir()) + QStringLiteral("icons"));
  for (const QFileInfo& file : icons.entryInfoList({QStringLiteral("vendrel-*.png")}, QDir::Files, QDir::Name))
    icon.addFile(file.filePath());
  return icon;
}

}  // namespace vendrel
