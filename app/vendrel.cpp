// vendrel: the viewer of recorder disks. `vendrel [IMAGE...]`, --help, --version.
#include "vendrelapp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <string>
#include <vector>

#ifndef VENDREL_VERSION
#define VENDREL_VERSION "0"
#endif

namespace {

// Names the program for Qt (help, version, settings, the desktop's window grouping).
void NameProgram() {
  QCoreApplication::setApplicationName(QStringLiteral("vendrel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VENDREL_VERSION));
}

// The image files of the command line. --help and --version are answered here, before any
// connection to a display is made, so they work on a machine without one.
std::vector<std::string> ParseCommandLine(int argc, char** argv) {
  QCoreApplication console(argc, argv);
  NameProgram();
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Views the recordings of digital video recorder disks (read-only).\n"
      "Disks are looked for in this order: the IMAGE files given here, the image files named\n"
      "in VENDREL_DISKS (colon-separated), the files of Disks/ next to the program, then the\n"
      "block devices of the system.\n"
      "Diagnostic lines go to standard error with VENDREL_LOG=trace."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("a recorder disk image file"),
                               QStringLiteral("[IMAGE...]"));
  parser.process(console);  // --help, --version and unknown options end the program here
  std::vector<std::string> images;
  for (const QString& image : parser.positionalArguments()) images.push_back(image.toStdString());
  return images;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> images = ParseCommandLine(argc, argv);
  QApplication app(argc, argv);
  NameProgram();
  QApplication::setApplicationDisplayName(QStringLiteral("Vendrel"));
  QApplication::setDesktopFileName(QStringLiteral("vendrel"));

  CVendrelApp vendrelApp(std::move(images));
  vendrelApp.InitInstance();
  vendrelApp.ExitInstance();
  return 0;
}
