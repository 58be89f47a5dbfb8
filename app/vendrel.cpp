// vendrel: the viewer of recorder disks. `vendrel [IMAGE...]`, --help, --version.
#include "vendrelapp.h"

#include <QApplication>
#include <QCommandLineParser>

#include <string>
#include <vector>

#ifndef VENDREL_VERSION
#define VENDREL_VERSION "0"
#endif

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vendrel"));
  QApplication::setApplicationDisplayName(QStringLiteral("Vendrel"));
  QApplication::setApplicationVersion(QStringLiteral(VENDREL_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("vendrel"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Views the recordings of digital video recorder disks (read-only).\n"
      "Disks are looked for in this order: the IMAGE files given here, the image files named\n"
      "in VENDREL_DISKS (colon-separated), the files of Disks/ next to the program, then the\n"
      "block devices of the system."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("a recorder disk image file"),
                               QStringLiteral("[IMAGE...]"));
  parser.process(app);

  std::vector<std::string> images;
  for (const QString& image : parser.positionalArguments()) images.push_back(image.toStdString());
  CVendrelApp vendrelApp(std::move(images));
  vendrelApp.InitInstance();
  vendrelApp.ExitInstance();
  return 0;
}
