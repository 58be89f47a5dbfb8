// gridshot: screenshots of the video grid while players play recordings in it.
//
//   gridshot [-d IMAGE]... [--out PREFIX] [--wait SECONDS] [--shots N] [--interval MS]
//            [--size WxH] PATH...
//
// Opens a video grid (CVideoWindow) with one window per PATH (4 windows for up to four paths,
// 9 for up to nine), plays each PATH in its window with its own player (CPlayer on the real
// engine), writes each window's status text once a second (channel, day, start time, state and
// progress) and, after SECONDS (default 3), grabs the window N times (default 2), MS apart
// (default 1000), into PREFIX-1.png, PREFIX-2.png, ... (default PREFIX: gridshot).
//
// With -d, the recorder disk images are brought up as the viewer does (volume start-up) and
// every PATH is a recording under "/mnt". Without -d, every PATH is a local file, played under a
// recording name of its own (localrecordings.h).
//
// Under an X server (xvfb-run, see scripts/gridshot.sh) a shot is what the screen shows of the
// window; on the offscreen platform it is the window painted into an image. Exit status 0 when
// every player started and every shot was written; 1 otherwise, with the reason on standard
// error; 2 for a wrong command line.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <infra/infra.h>
#include <krt/disk.h>
#include <krt/volume.h>
#include <lumenpane/videowindow.h>
#include <tarnvox/tarnvox.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "localrecordings.h"
#include "player.h"
#include "recordingpath.h"

namespace {

struct Options {
  std::vector<std::string> images;  // -d
  std::vector<std::string> paths;   // what to play
  std::string prefix = "gridshot";  // --out
  int waitMs = 3000;                // --wait, in milliseconds
  int shots = 2;                    // --shots
  int intervalMs = 1000;            // --interval
  QSize size{1024, 768};            // --size
};

int Usage(const char* message) {
  std::fprintf(stderr,
               "gridshot: %s\nusage: gridshot [-d IMAGE]... [--out PREFIX] [--wait SECONDS] "
               "[--shots N] [--interval MS] [--size WxH] PATH...\n",
               message);
  return 2;
}

// Reads the command line into o. Returns 0, or the exit status of a wrong command line.
int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "-d" && hasValue) {
      o.images.push_back(argv[++i]);
    } else if (a == "--out" && hasValue) {
      o.prefix = argv[++i];
    } else if (a == "--wait" && hasValue) {
      o.waitMs = static_cast<int>(std::atof(argv[++i]) * 1000);
    } else if (a == "--shots" && hasValue) {
      o.shots = std::atoi(argv[++i]);
    } else if (a == "--interval" && hasValue) {
      o.intervalMs = std::atoi(argv[++i]);
    } else if (a == "--size" && hasValue) {
      int w = 0, h = 0;
      if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) return Usage("bad --size");
      o.size = QSize(w, h);
    } else if (!a.empty() && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else {
      o.paths.push_back(a);
    }
  }
  if (o.paths.empty() || o.paths.size() > 9) return Usage("give one to nine paths");
  if (o.shots < 1 || o.waitMs < 0 || o.intervalMs < 0) return Usage("bad --wait, --shots or --interval");
  return 0;
}

// The status text of window i: what plays there, its state and progress.
QString StatusText(const std::string& path, CPlayer& player) {
  RecordingName name;
  QString what = QString::fromStdString(path);
  if (ParseRecordingPath(path, &name)) {
    what = QString::asprintf("CH%03d  %04d-%02d-%02d %02d:%02d:%02d", name.channel, name.year,
                             name.month, name.day, name.startSeconds / 3600,
                             name.startSeconds / 60 % 60, name.startSeconds % 60);
  }
  switch (player.GetState()) {
    case CPlayer::statePlaying:
      return what + QString::asprintf("  playing %d%%", player.GetProgress());
    case CPlayer::statePaused:
      return what + "  paused";
    case CPlayer::stateSingleFrame:
      return what + "  single frame";
    default:
      return what + "  idle";
  }
}

// What the screen shows of the window; the window painted into an image where there is no
// screen to read (the offscreen platform).
QImage Shot(QWidget& window) {
  if (QGuiApplication::platformName() != "offscreen") {
    if (QScreen* screen = window.screen()) {
      const QImage image = screen->grabWindow(window.winId()).toImage();
      if (!image.isNull()) return image;
    }
  }
  return window.grab().toImage();
}

int Run(const Options& o) {
  // Where the paths come from: the recorder disks, or local files under names of their own.
  std::unique_ptr<benchsupport::CLocalRecordings> local;
  std::vector<std::string> recordings = o.paths;
  if (!o.images.empty()) {
    krt::set_disk_sources({o.images, false, false, false});
    krt::volume_startup();
    if (krt::get_disk_info(nullptr) <= 0) {
      std::fprintf(stderr, "gridshot: no recorder disk among the images\n");
      return 1;
    }
  } else {
    local = std::make_unique<benchsupport::CLocalRecordings>();
    for (size_t i = 0; i < recordings.size(); ++i)
      recordings[i] = local->Serve(o.paths[i], static_cast<int>(i) + 1, 600);
  }

  lumenpane::CVideoWindow grid;
  grid.setWindowTitle("gridshot");
  grid.resize(o.size);
  grid.SetWndCount(recordings.size() <= 1 ? 1 : recordings.size() <= 4 ? 4 : 9);
  grid.show();

  std::vector<std::unique_ptr<CPlayer>> players;
  for (size_t i = 0; i < recordings.size(); ++i) {
    players.push_back(std::make_unique<CPlayer>(grid.GetWndHandle(static_cast<int>(i)), static_cast<int>(i)));
    if (players.back()->Open(recordings[i]) != 1) {
      std::fprintf(stderr, "gridshot: %s is not a recording path\n", recordings[i].c_str());
      return 1;
    }
  }
  // The status pass, once a second as the main window does it.
  auto statusPass = [&] {
    for (size_t i = 0; i < players.size(); ++i)
      grid.SetWndStatus(static_cast<int>(i), StatusText(recordings[i], *players[i]));
  };
  statusPass();
  QTimer status;
  QObject::connect(&status, &QTimer::timeout, statusPass);
  status.start(1000);

  // Each shot: a status pass first, so that the texts are those of the moment, then the shot
  // once the grid has painted them.
  int result = 0;
  int taken = 0;
  auto shoot = [&] {
    const std::string file = o.prefix + "-" + std::to_string(++taken) + ".png";
    if (!Shot(grid).save(QString::fromStdString(file), "PNG")) {
      std::fprintf(stderr, "gridshot: cannot write %s\n", file.c_str());
      result = 1;
    } else {
      std::printf("%s\n", file.c_str());
    }
    if (taken == o.shots) QCoreApplication::quit();
  };
  constexpr int kPaintMs = 100;  // time the grid gets to paint the new texts
  QTimer shots;
  QObject::connect(&shots, &QTimer::timeout, [&] {
    statusPass();
    QTimer::singleShot(kPaintMs, shoot);
    shots.setInterval(o.intervalMs);
  });
  shots.start(std::max(0, o.waitMs - kPaintMs));
  QCoreApplication::exec();
  players.clear();  // stops every run and waits for it
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int r = ParseOptions(argc, argv, options); r != 0) return r;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  TvxPrepare();
  const int result = Run(options);
  infra::CInfra::Instance()->stop();
  return result;
}
