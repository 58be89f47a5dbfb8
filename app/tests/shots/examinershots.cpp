// Screenshots of what an examiner meets, for looking at under Xvfb (scripts/examinershot.sh):
// the copy dialog's failure and summary, the login's message, a window whose recording ended,
// the record tree with a flagged recording and a refused partition, and the same dialogs in
// German. Each PNG is what the X screen shows of the window, grabbed from the screen.
//
//   vendrel_examiner_shots OUTPUT-FOLDER RESOURCES-FOLDER
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <krt/disk.h>
#include <krt/volume.h>
#include <krt_testing/image_builder.h>
#include <krt_testing/scratch.h>
#include <lumenpane/videowindow.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include <infra/infra.h>

#include "dialogcpfile.h"
#include "dialogsaveto.h"
#include "initlanguage.h"
#include "login.h"
#include "messagebox.h"
#include "playbackcommands.h"
#include "playermanager.h"
#include "recordsearch.h"
#include "recordtree.h"
#include "support.h"
#include "vendreldlg.h"

namespace {

namespace kb = krt_testing;

QString g_out;

// Lets the event loop run for ms milliseconds.
void Settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Waits (at most 30 s) until done() holds, running the event loop.
bool Until(const std::function<bool()>& done) {
  for (int i = 0; i < 3000 && !done(); ++i) Settle(10);
  return done();
}

// Saves what the screen shows of widget's window.
void Shot(QWidget* widget, const QString& name) {
  Settle(300);
  QWidget* window = widget->window();
  const QRect frame = window->frameGeometry();
  const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
  const QString path = g_out + "/" + name + ".png";
  screen.copy(frame).save(path);
  std::printf("%s\n", path.toLocal8Bit().constData());
}

// Shows a modal message over owner and saves the screen with both (the message's placement).
void MessageShot(QWidget* owner, const QString& key, const QString& name) {
  QTimer::singleShot(400, [name] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    Settle(200);
    const QString path = g_out + "/" + name + ".png";
    QGuiApplication::primaryScreen()->grabWindow(0).copy(0, 0, 900, 700).save(path);
    std::printf("%s\n", path.toLocal8Bit().constData());
    box->button(QMessageBox::Ok)->click();
  });
  vendrel::ShowMessage(owner, key);
}

// A disk with a recording never written (its clusters read as zeros) beside one with data, and
// a partition whose parameter block is refused.
std::string DamagedImage(const kb::ScratchDir& dir) {
  kb::Disk disk = kb::multi_partition_disk({200000, 200000}, 64);
  disk.partitions[0].files =
      kb::recordings({0, 1}, kb::pack_time(2024, 3, 5, 6, 7, 0), kb::pack_time(2024, 3, 5, 6, 17, 0), 600);
  disk.partitions[0].files[0].payload = kb::Payload{kb::Payload::Kind::kNone, "", nullptr};
  disk.partitions[1].tweak = [](kb::ParamBlock& p) { p.type = 7; };
  const std::string image = dir.path("case17.img");
  kb::build_image(disk, image);
  return image;
}

void Attach(const std::string& image) {
  krt::DiskSources sources;
  sources.images = {image};
  sources.environment = sources.program_folder = sources.block_devices = false;
  krt::set_disk_sources(sources);
  krt::volume_startup();
}

void CopyShots(const QString& suffix) {
  kb::ScratchDir scratch;
  CCopyJob job = recordsearch::BuildCopyJob(recordsearch::kindDay, "idea0/2024-03-05");
  job.m_strFolder = scratch.path("a-rather-long-folder-name-for-the-case-files/exports/2024/march/case17");
  {
    CDialogCpFile done;
    done.SetJob(job);
    done.show();
    Until([&] { return done.Finished(); });
    Shot(&done, "copy-summary" + suffix);
  }
  // A file where the partition's folder would go: the export cannot write there.
  job.m_strFolder = scratch.path("a-rather-long-folder-name-for-the-case-files/exports/2024/march/blocked");
  QDir().mkpath(QString::fromStdString(job.m_strFolder));
  std::ofstream(job.m_strFolder + "/idea0") << "in the way";
  CDialogCpFile failed;
  failed.SetJob(job);
  failed.show();
  Until([&] { return failed.Finished(); });
  Settle(500);
  Shot(&failed, "copy-failure" + suffix);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Vendrel");
  if (argc < 3) return 2;
  g_out = argv[1];
  infra::CInfra::Instance()->start();
  kb::ScratchDir dir;
  const std::string image = DamagedImage(dir);
  Attach(image);
  CInitLanguage* language = CInitLanguage::Instance();
  language->SetRootPath(argv[2]);

  for (const int id : {100, 101}) {
    language->LoadLanguage(id);
    language->InstallQtTranslations();
    const QString suffix = id == 100 ? "" : "-de";
    {
      CLogin login;
      login.show();
      Settle(300);
      MessageShot(&login, "PasswdError", "login-message" + suffix);
    }
    CopyShots(suffix);
    {
      CDialogSaveTo saveTo;
      saveTo.show();
      Shot(&saveTo, "saveto" + suffix);
    }
    {
      std::fprintf(stderr, "shots: main window\n");
      CVendrelDlg main;
      main.show();
      auto* tree = qobject_cast<CRecordSearchDlg*>(main.TreeArea());
      QTreeWidgetItem* root = tree->Tree()->topLevelItem(0);
      root->setExpanded(true);
      for (int i = 0; i < root->childCount(); ++i) root->child(i)->setExpanded(true);
      QTreeWidgetItem* day = root->child(0)->child(0);
      day->setExpanded(true);
      for (int i = 0; i < day->childCount(); ++i) day->child(i)->setExpanded(true);
      tree->Tree()->setCurrentItem(day->child(0)->child(0));
      // An ended window: the wiped recording plays to its end in window 0; window 1 plays a
      // real clip to its end and keeps its last picture.
      std::fprintf(stderr, "shots: playing %s\n", CRecordSearchDlg::RootedPath(day->child(0)->child(0)).c_str());
      main.Playback()->PlayFile("/mnt/" + CRecordSearchDlg::RootedPath(day->child(0)->child(0)));
      Until([] { return CPlayerManager::Instance().GetEnded(0) != 0; });
      {
        apptest::CMountedFolder mnt;
        const std::string rooted = "idea0/2024-03-05/002/14.05.00-14.05.02[R][@bc][0].h264";
        mnt.Put(rooted, "");
        if (apptest::MakeWithFfmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -t 2 -c:v libx264 -preset ultrafast -f h264",
                                    mnt.Root() / rooted)) {
          main.VideoWindow()->SetCurWnd(1);
          main.Playback()->PlayFile("/mnt/" + rooted);
          Until([] { return CPlayerManager::Instance().GetEnded(1) != 0; });
        }
      }
      std::fprintf(stderr, "shots: ended %d %d\n", CPlayerManager::Instance().GetEnded(0), CPlayerManager::Instance().GetEnded(1));
      main.Playback()->StatusPass();
      Shot(&main, "ended-and-flagged" + suffix);
      // The about box and the main window's menu bar.
      QTimer::singleShot(400, [suffix] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        Shot(box, "about" + suffix);
        box->button(QMessageBox::Ok)->click();
      });
      main.OnCommand(CVendrelDlg::kCmdAbout);
      main.Playback()->OnCommand(CPlaybackCommands::kCmdCloseAllWindow);
      main.Playback()->StatusPass();
      Shot(&main, "closed" + suffix);
    }
  }
  CInitLanguage::DeleteInstance();
  return 0;
}
