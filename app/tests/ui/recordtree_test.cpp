// The record tree on two builder disks, driven through a fake main window: labels and paths
// of every level, the look-ahead, double click, the context menu and its commands, the copy
// dialogs, and the hot-plug rebuild.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <infra/infra.h>
#include <krt/disk.h>
#include <krt_testing/image_builder.h>
#include <krt_testing/scratch.h>

#include "dialogcpfile.h"
#include "dialogsaveto.h"
#include "initlanguage.h"
#include "recordsearch.h"
#include "recordtree.h"
#include "twodisks.h"

namespace {

namespace fs = std::filesystem;
using apptest::CTwoDisks;

// The main window as the tree sees it: remembers every call.
class CFakeParent : public IRecordSearchParent {
 public:
  int PlayFile(const std::string& path) override {
    m_played.push_back(path);
    return 1;
  }
  int PlayFiles(const SyncPlayTable& table, int n) override {
    m_table = table;
    m_nPlayed = n;
    return 1;
  }
  void SetLayoutForCount(int n) override { m_layouts.push_back(n); }

  std::vector<std::string> m_played;
  SyncPlayTable m_table;
  int m_nPlayed = -1;
  std::vector<int> m_layouts;
};

// Makes images the only disk candidates, as plugging disks in and out does; nothing else.
void UseImages(const std::vector<std::string>& images) {
  krt::DiskSources sources;
  sources.images = images;
  sources.environment = sources.program_folder = sources.block_devices = false;
  krt::set_disk_sources(sources);
}

// Expands item and everything below it, depth first.
void ExpandAll(QTreeWidgetItem* item) {
  item->setExpanded(true);
  for (int i = 0; i < item->childCount(); ++i) ExpandAll(item->child(i));
}

// The tree as indented lines: two spaces per level, then the label and the kind.
void Dump(const QTreeWidgetItem* item, int depth, std::vector<std::string>& out) {
  out.push_back(std::string(size_t(depth) * 2, ' ') + item->text(0).toStdString() + " #" +
                std::to_string(CRecordSearchDlg::Kind(item)));
  for (int i = 0; i < item->childCount(); ++i) Dump(item->child(i), depth + 1, out);
}

std::vector<std::string> Dump(const QTreeWidget* tree) {
  std::vector<std::string> out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) Dump(tree->topLevelItem(i), 0, out);
  return out;
}

// The child of item labelled label (null when none).
QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& label) {
  for (int i = 0; i < item->childCount(); ++i)
    if (item->child(i)->text(0) == label) return item->child(i);
  return nullptr;
}

class RecordSearchDlg : public testing::Test {
 protected:
  void SetUp() override {
    infra::CInfra::Instance()->start();  // timers: the hot-plug check and the copy worker
    CTwoDisks::Get().Attach();
  }

  void Make() { m_dlg = std::make_unique<CRecordSearchDlg>(&m_parent); }

  // The item at a partition-rooted path below drive root `disk`, each level expanded.
  QTreeWidgetItem* At(int disk, const std::vector<QString>& labels) {
    QTreeWidgetItem* item = m_dlg->Tree()->topLevelItem(disk);
    for (const QString& label : labels) {
      item->setExpanded(true);
      item = item ? Child(item, label) : nullptr;
      if (!item) return nullptr;
    }
    return item;
  }

  CFakeParent m_parent;
  std::unique_ptr<CRecordSearchDlg> m_dlg;
};

TEST_F(RecordSearchDlg, EveryLevelOfBothDisksIsLabelledAndPathed) {
  Make();
  QTreeWidget* tree = m_dlg->Tree();
  EXPECT_EQ(tree->objectName(), "1002");
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(Dump(tree), (std::vector<std::string>{"PhysicalDrive0 \u2014 disk0.img #0", "  text #0",
                                      "PhysicalDrive1 \u2014 disk1.img #0", "  text #0"}));

  for (int i = 0; i < tree->topLevelItemCount(); ++i) ExpandAll(tree->topLevelItem(i));
  const CTwoDisks& disks = CTwoDisks::Get();
  std::vector<std::string> expected;
  const auto files = [&](int disk, int slot, int y, int m, int d, int c) {
    for (const std::string& name : disks.Names(disk, slot, y, m, d, c)) expected.push_back("        " + name + " #4");
  };
  const auto channel = [&](int disk, int slot, int y, int m, int d, int c) {
    char label[8];
    std::snprintf(label, sizeof label, "%03d", c);
    expected.push_back(std::string("      ") + label + " #3");
    files(disk, slot, y, m, d, c);
  };
  // Disk 0 from the record calendar: partition 1 is empty, partition 2 still listed; channel 32
  // shown. Disk 1 from its own work directories, with its own letter and channel 41.
  expected.insert(expected.end(), {"PhysicalDrive0 \u2014 disk0.img #0", "  idea0 #1", "    2010-03-05 #2"});
  for (int c : {1, 2, 3, 32}) channel(0, 0, 2010, 3, 5, c);
  expected.push_back("    2010-03-06 #2");
  for (int c : {1, 3, 4}) channel(0, 0, 2010, 3, 6, c);
  expected.insert(expected.end(), {"  idea2 #1", "    2010-03-07 #2"});
  channel(0, 2, 2010, 3, 7, 6);
  expected.insert(expected.end(), {"PhysicalDrive1 \u2014 disk1.img #0", "  ideb0 #1", "    2010-04-01 #2"});
  for (int c : {1, 4}) channel(1, 0, 2010, 4, 1, c);
  expected.insert(expected.end(), {"  ideb1 #1", "    2010-04-02 #2"});
  for (int c : {32, 41}) channel(1, 1, 2010, 4, 2, c);
  EXPECT_EQ(Dump(tree), expected);

  QTreeWidgetItem* file = At(1, {"ideb1", "2010-04-02", "041"})->child(0);
  EXPECT_EQ(CRecordSearchDlg::GetItemPath(file).toStdString(),
            "PhysicalDrive1 \u2014 disk1.img/ideb1/2010-04-02/041/" + disks.Names(1, 1, 2010, 4, 2, 41)[0]);
  EXPECT_EQ(CRecordSearchDlg::RootedPath(file), "ideb1/2010-04-02/041/" + disks.Names(1, 1, 2010, 4, 2, 41)[0]);
  // Names a person can tell apart: the recording's full name and the drive's image path.
  EXPECT_EQ(file->toolTip(0).toStdString(), disks.Names(1, 1, 2010, 4, 2, 41)[0]);
  EXPECT_EQ(tree->topLevelItem(1)->toolTip(0).toStdString(), disks.m_paths[1]);
}

// A disk with a recording the recorder never wrote (its clusters read as zeros) and a partition
// the start-up refused: the recording is listed with a warning mark, the partition greyed with
// its reason, and neither hides the rest.
TEST_F(RecordSearchDlg, DamageIsShownWithItsReason) {
  namespace kb = krt_testing;
  krt_testing::ScratchDir dir;
  kb::Disk disk = kb::multi_partition_disk({200000, 200000}, 64);
  disk.partitions[0].files = kb::recordings({0, 1}, kb::pack_time(2010, 3, 5, 8, 0, 0),
                                            kb::pack_time(2010, 3, 5, 8, 30, 0), 1800);
  disk.partitions[0].files[0].payload = kb::Payload{kb::Payload::Kind::kNone, "", nullptr};
  disk.partitions[1].tweak = [](kb::ParamBlock& p) { p.type = 7; };
  const std::string image = dir.path("damaged.img");
  ASSERT_TRUE(kb::build_image(disk, image).ok);
  UseImages({image});
  Make();
  QTreeWidget* tree = m_dlg->Tree();
  ExpandAll(tree->topLevelItem(0));
  QTreeWidgetItem* refused = Child(tree->topLevelItem(0), "idea1");
  ASSERT_NE(refused, nullptr) << "a refused partition is never silently missing";
  EXPECT_TRUE(refused->isDisabled());
  EXPECT_EQ(refused->childCount(), 0);
  EXPECT_NE(refused->toolTip(0).toStdString().find("not mounted: its parameter block was refused"),
            std::string::npos) << refused->toolTip(0).toStdString();
  EXPECT_EQ(m_dlg->MakeContextMenu(refused), nullptr);

  QTreeWidgetItem* zeros = At(0, {"idea0", "2010-03-05", "001"})->child(0);
  QTreeWidgetItem* data = At(0, {"idea0", "2010-03-05", "002"})->child(0);
  ASSERT_NE(zeros, nullptr);
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(CRecordSearchDlg::IsAllZero(zeros));
  EXPECT_NE(zeros->toolTip(0).toStdString().find("AllZeroRecording"), std::string::npos)
      << zeros->toolTip(0).toStdString();
  EXPECT_FALSE(zeros->icon(0).isNull());
  EXPECT_FALSE(CRecordSearchDlg::IsAllZero(data));
  EXPECT_NE(m_dlg->MakeContextMenu(zeros), nullptr) << "still exported and played as it is";
}

TEST_F(RecordSearchDlg, ExpansionLooksOneLevelAheadAndRebuildsOnce) {
  Make();
  QTreeWidgetItem* root = m_dlg->Tree()->topLevelItem(0);
  root->setExpanded(true);
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->childCount(), 2) << "the partitions come with their days";
  EXPECT_EQ(root->child(0)->child(0)->childCount(), 0) << "but not yet with their channels";
  root->child(0)->setExpanded(true);
  QTreeWidgetItem* day = Child(root->child(0), "2010-03-05");
  ASSERT_TRUE(day);
  EXPECT_EQ(day->childCount(), 4) << "a partition's days come with their channels";
  EXPECT_EQ(day->child(0)->childCount(), 0) << "but not yet with their recordings";
  day->setExpanded(true);
  QTreeWidgetItem* channel = Child(day, "002");
  EXPECT_EQ(channel->childCount(), 3) << "a day's channels come with their recordings";
  channel->setExpanded(true);
  EXPECT_EQ(channel->childCount(), 3) << "expanding a channel adds nothing";

  root->setExpanded(false);
  root->setExpanded(true);
  EXPECT_EQ(root->childCount(), 2) << "each partition once after collapsing and expanding again";
}

TEST_F(RecordSearchDlg, DoubleClickPlaysTheRecordingPath) {
  Make();
  QTreeWidgetItem* file = At(1, {"ideb1", "2010-04-02", "032"})->child(0);
  m_dlg->OnDblclkItem(file->parent());  // a channel does not play
  m_dlg->OnDblclkItem(file);
  EXPECT_EQ(m_parent.m_played,
            (std::vector<std::string>{"/mnt/ideb1/2010-04-02/032/" + CTwoDisks::Get().Names(1, 1, 2010, 4, 2, 32)[0]}));

  std::string selected;
  EXPECT_EQ(m_dlg->GetSelectedFilePath(selected), 0);
  m_dlg->Tree()->setCurrentItem(file);
  EXPECT_EQ(m_dlg->GetSelectedFilePath(selected), 1);
  EXPECT_EQ(selected, m_parent.m_played[0].substr(5));
}

// Enter plays a recording, opens other items, and is never passed on to the window (where it
// would end the program).
TEST_F(RecordSearchDlg, EnterPlaysTheCurrentRecordingAndStaysInTheTree) {
  bool reachedWindow = false;
  class CWindow : public QWidget {
   public:
    explicit CWindow(bool* reached) : m_reached(reached) {}
    void keyPressEvent(QKeyEvent*) override { *m_reached = true; }
    bool* m_reached;
  } host(&reachedWindow);
  m_dlg = std::make_unique<CRecordSearchDlg>(&m_parent, &host);
  QTreeWidgetItem* channel = At(1, {"ideb1", "2010-04-02", "032"});
  QTreeWidgetItem* day = channel->parent();
  day->setExpanded(false);
  m_dlg->Tree()->setCurrentItem(day);
  QTest::keyClick(m_dlg->Tree(), Qt::Key_Return);
  EXPECT_TRUE(day->isExpanded());
  EXPECT_TRUE(m_parent.m_played.empty());
  channel = Child(day, "032");  // expanding rebuilt the day's children
  ASSERT_NE(channel, nullptr);
  channel->setExpanded(true);
  m_dlg->Tree()->setCurrentItem(channel->child(0));
  QTest::keyClick(m_dlg->Tree(), Qt::Key_Enter);
  EXPECT_EQ(m_parent.m_played, std::vector<std::string>{"/mnt/" + CRecordSearchDlg::RootedPath(channel->child(0))});
  EXPECT_FALSE(reachedWindow);
  m_dlg.reset();
}

TEST_F(RecordSearchDlg, ContextMenusByKind) {
  Make();
  QTreeWidgetItem* day = At(0, {"idea0", "2010-03-06"});
  day->setExpanded(true);
  const struct {
    QTreeWidgetItem* item;
    std::vector<std::string> actions;
  } cases[] = {
      {m_dlg->Tree()->topLevelItem(0), {}},
      {day->parent(), {"1025"}},
      {day, {"1025", "1026"}},
      {Child(day, "001"), {"1025"}},  // a channel: nothing to play in sync from
      {Child(day, "001")->child(0), {"1025", "1026"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item->text(0).toStdString());
    const std::unique_ptr<QMenu> menu = m_dlg->MakeContextMenu(c.item);
    std::vector<std::string> actions;
    if (menu)
      for (QAction* a : menu->actions()) actions.push_back(a->objectName().toStdString());
    EXPECT_EQ(actions, c.actions);
    EXPECT_EQ(menu == nullptr, c.actions.empty());
  }
}

TEST_F(RecordSearchDlg, SyncPlayUsesTheRightClickedRecording) {
  Make();
  QTreeWidgetItem* channel = At(0, {"idea0", "2010-03-05", "003"});
  m_dlg->Tree()->setCurrentItem(channel->child(0));  // selected: the 08:00 recording
  const std::unique_ptr<QMenu> menu = m_dlg->MakeContextMenu(channel->child(2));  // clicked: 10:00
  menu->actions().at(1)->trigger();
  EXPECT_EQ(m_parent.m_layouts, std::vector<int>{32});
  EXPECT_EQ(m_parent.m_nPlayed, 32);
  EXPECT_EQ(m_parent.m_table[2], "/mnt/" + CRecordSearchDlg::RootedPath(channel->child(2)));
  EXPECT_EQ(m_parent.m_table[31].substr(0, 31), "/mnt/idea0/2010-03-05/032/10.00");
}

// Finds the active modal dialog of type T; null when there is none.
template <class T>
T* Modal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

TEST_F(RecordSearchDlg, CopyToAsksForAFolderAndExportsTheItem) {
  Make();
  krt_testing::ScratchDir scratch;
  const std::string folder = scratch.path("out");
  fs::create_directories(folder);
  CDialogSaveTo::SetFolderChooser([&](QWidget*, const QString&, const QString&) { return QString::fromStdString(folder); });
  QTreeWidgetItem* day = At(1, {"ideb0", "2010-04-01"});
  const std::unique_ptr<QMenu> menu = m_dlg->MakeContextMenu(day);
  bool sawSaveTo = false, sawCopy = false;
  QTimer::singleShot(0, [&] {
    CDialogSaveTo* saveTo = Modal<CDialogSaveTo>();
    ASSERT_TRUE(saveTo);
    sawSaveTo = true;
    saveTo->findChild<QPushButton*>("1004")->click();
    EXPECT_EQ(saveTo->findChild<QLineEdit*>("1005")->text().toStdString(), folder);
    QTimer::singleShot(0, [&] {
      // The copy dialog stays with its summary once the copy is done; Close ends it.
      CDialogCpFile* copy = Modal<CDialogCpFile>();
      sawCopy = copy != nullptr;
      if (!copy) return;
      auto* poll = new QTimer(copy);
      QObject::connect(poll, &QTimer::timeout, copy, [copy] {
        if (copy->Finished()) copy->findChild<QPushButton*>("2")->click();
      });
      poll->start(10);
    });
    saveTo->findChild<QPushButton*>("1")->click();
  });
  menu->actions().at(0)->trigger();
  CDialogSaveTo::SetFolderChooser(nullptr);
  EXPECT_TRUE(sawSaveTo);
  EXPECT_TRUE(sawCopy);
  EXPECT_TRUE(fs::exists(folder + "/SHA256SUMS"));
  for (const std::string& name : CTwoDisks::Get().Names(1, 0, 2010, 4, 1, 4))
    EXPECT_TRUE(fs::exists(folder + "/ideb0/2010-04-01/004/" + name)) << name;
}

// The shipped English texts, for the tests that read what the user reads; the key fallback
// comes back when it goes.
class CEnglishTexts {
 public:
  CEnglishTexts() {
    CInitLanguage::Instance()->SetRootPath(VENDREL_TEST_RESOURCES);
    CInitLanguage::Instance()->LoadLanguage(CInitLanguage::kDefaultLanguageId);
  }
  ~CEnglishTexts() { CInitLanguage::DeleteInstance(); }
};

TEST_F(RecordSearchDlg, CopyDialogEndsWithASummaryAndCloses) {
  const CEnglishTexts english;
  krt_testing::ScratchDir scratch;
  CCopyJob job = recordsearch::BuildCopyJob(recordsearch::kindDay, "ideb0/2010-04-01");
  job.m_strFolder = scratch.path("out");
  CDialogCpFile dialog;
  dialog.SetJob(job);
  EXPECT_EQ(dialog.findChild<QPushButton*>("2")->text(), "Cancel");
  dialog.show();
  QTRY_VERIFY_WITH_TIMEOUT(dialog.Finished(), 10000);
  EXPECT_TRUE(dialog.isVisible()) << "the summary stays until the user closes it";
  EXPECT_EQ(dialog.findChild<QLabel*>("1007")->text(), "4 copied, 0 skipped");
  QPushButton* close = dialog.findChild<QPushButton*>("2");
  EXPECT_EQ(close->text(), "Close");
  close->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(fs::exists(job.m_strFolder + "/manifest.json"));
}

TEST_F(RecordSearchDlg, CopyDialogStaysOpenNamingTheFileItCouldNotWrite) {
  const CEnglishTexts english;
  krt_testing::ScratchDir scratch;
  const std::string folder = scratch.path("out");
  fs::create_directories(folder);
  std::ofstream(folder + "/ideb1") << "a file where the partition folder would go";
  CCopyJob job = recordsearch::BuildCopyJob(recordsearch::kindChannel, "ideb1/2010-04-02/041");
  ASSERT_EQ(job.m_paths.size(), 1u);
  job.m_strFolder = folder;
  CDialogCpFile dialog;
  dialog.SetJob(job);
  dialog.show();
  QTRY_VERIFY_WITH_TIMEOUT(dialog.Finished(), 10000);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.Outcome().m_end, CCopyOutcome::endWriteFailed);
  QLabel* status = dialog.findChild<QLabel*>("1006");
  EXPECT_TRUE(status->wordWrap());
  // The path may break at its folders; read without the break marks it is the file's.
  const QStringList lines = status->text().remove(QChar(0x200b)).split('\n');
  ASSERT_EQ(lines.size(), 2) << status->text().toStdString();
  EXPECT_TRUE(lines[0].startsWith("The export stopped. This file could not be written: ")) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].endsWith(QString::fromStdString(job.m_paths[0].substr(5)))) << lines[0].toStdString();
  // The system's reason, as the export got it.
  EXPECT_FALSE(lines[1].isEmpty());
  EXPECT_TRUE(QString::fromStdString(dialog.Outcome().m_strError).endsWith(": " + lines[1]))
      << dialog.Outcome().m_strError;
  EXPECT_EQ(status->accessibleName(), lines.join('\n'));
  QApplication::processEvents();
  EXPECT_GE(status->height(), status->heightForWidth(status->width())) << "every line shows";
  EXPECT_EQ(dialog.findChild<QLabel*>("1007")->text(), "stopped: 0 of 1 copied");
  EXPECT_EQ(dialog.findChild<QPushButton*>("2")->text(), "Close");
  dialog.findChild<QPushButton*>("2")->click();
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(RecordSearchDlg, CancelWaitsForTheWorkerAndEndsTheDialog) {
  krt_testing::ScratchDir scratch;
  CCopyJob job = recordsearch::BuildCopyJob(recordsearch::kindPartition, "idea0");
  job.m_strFolder = scratch.path("out");
  auto dialog = std::make_unique<CDialogCpFile>();
  dialog->SetJob(job);
  dialog->show();
  dialog->findChild<QPushButton*>("2")->click();  // at once: the worker may not have started
  EXPECT_FALSE(dialog->isVisible());
  dialog.reset();  // waits for a worker still inside a block
  const std::string left = scratch.path("out");
  if (fs::exists(left)) {
    for (const auto& e : fs::recursive_directory_iterator(left))
      EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
  }
}

TEST_F(RecordSearchDlg, HotPlugNoticesAnImageFileAndRebuildsOnTheUserInterfaceThread) {
  // Two image names in one folder; only the first file is there when the tree is made.
  krt_testing::ScratchDir scratch;
  const std::string first = scratch.path("a.img"), second = scratch.path("b.img");
  // Linked, not copied: the images are large sparse files.
  fs::create_hard_link(CTwoDisks::Get().m_paths[0], first);
  UseImages({first, second});
  Make();
  ASSERT_EQ(m_dlg->Tree()->topLevelItemCount(), 1);
  ASSERT_TRUE(m_dlg->HotPlugNotifying()) << "the image folder is watched, no poll";
  At(0, {"idea0", "2010-03-05"})->setExpanded(true);
  const int loads = m_dlg->LoadCount();

  fs::create_hard_link(CTwoDisks::Get().m_paths[1], second);  // a new image appears in the folder
  // Without the event loop nothing changes: the other threads only count.
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * CRecordSearchDlg::kHotPlugSettleMs));
  EXPECT_EQ(m_dlg->LoadCount(), loads);
  EXPECT_EQ(m_dlg->Tree()->topLevelItemCount(), 1);
  // No timer polls (the watch notifies): the notice alone rebuilds.
  QTRY_COMPARE_WITH_TIMEOUT(m_dlg->LoadCount(), loads + 1, 10000);
  EXPECT_EQ(m_dlg->Tree()->topLevelItemCount(), 2);
  EXPECT_EQ(Dump(m_dlg->Tree()), (std::vector<std::string>{"PhysicalDrive0 \u2014 a.img #0", "  text #0",
                                      "PhysicalDrive1 \u2014 b.img #0", "  text #0"}))
      << "every branch collapsed";

  // The image goes again while the tree is shown: rebuilt again.
  fs::remove(second);
  QTRY_COMPARE_WITH_TIMEOUT(m_dlg->LoadCount(), loads + 2, 10000);
  EXPECT_EQ(m_dlg->Tree()->topLevelItemCount(), 1);
}

}  // namespace

namespace {

// Opened images become drives; one that is not a recorder disk is named with its reason and
// not kept; a closed image's drive goes again, and an empty tree says why.
TEST_F(RecordSearchDlg, OpenedImagesBecomeDrivesAndRefusalsAreNamed) {
  UseImages({});
  Make();
  ASSERT_EQ(m_dlg->Tree()->topLevelItemCount(), 0);
  EXPECT_TRUE(m_dlg->HelpText().startsWith("NoDiskFound")) << m_dlg->HelpText().toStdString();

  krt_testing::ScratchDir scratch;
  const std::string other = scratch.path("holiday.img");
  std::ofstream(other) << std::string(4096, 'x');
  const QString image = QString::fromStdString(CTwoDisks::Get().m_paths[0]);
  const QStringList refusals = m_dlg->OpenImages({image, QString::fromStdString(other)});
  EXPECT_EQ(refusals, QStringList{QString::fromStdString(other + ": not a recorder disk")});
  ASSERT_EQ(m_dlg->Tree()->topLevelItemCount(), 1);
  EXPECT_TRUE(m_dlg->HelpText().isEmpty());
  EXPECT_EQ(m_dlg->OpenedImages(), QStringList{image});
  EXPECT_EQ(krt::given_disk_images(), std::vector<std::string>{image.toStdString()});

  const std::unique_ptr<QMenu> menu = m_dlg->MakeContextMenu(m_dlg->Tree()->topLevelItem(0));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(menu->actions()[0]->objectName(), "1027");
  menu->actions()[0]->trigger();
  EXPECT_EQ(m_dlg->Tree()->topLevelItemCount(), 0);
  EXPECT_TRUE(m_dlg->OpenedImages().isEmpty());
  EXPECT_FALSE(m_dlg->HelpText().isEmpty());
}

// The help names every candidate with the words of `krt disks` and, for a disk the user may
// not read, the group that may.
TEST(RecordTreeHelp, SaysWhatWasTriedAndWhy) {
  CInitLanguage* language = CInitLanguage::Instance();
  language->SetRootPath(VENDREL_TEST_RESOURCES);
  language->LoadLanguage(100);  // English
  using R = krt::CandidateReport;
  const std::vector<R> reports = {
      {"/dev/sda", true, R::not_recorder_disk, "", ""},
      {"/dev/sdb", true, R::permission_denied, "", "disk"},
      {"/home/u/a.001", false, R::refused, "segment /home/u/a.002 is missing", ""},
      {"/home/u/b.img", false, R::cannot_open, "No such file or directory", ""},
  };
  const QStringList lines = CRecordSearchDlg::EmptyTreeHelp(reports).split('\n');
  CInitLanguage::DeleteInstance();
  ASSERT_EQ(lines.size(), 7) << lines.join('\n').toStdString();
  EXPECT_EQ(lines[0], "No recorder disk found. Looked at block devices: 2, images: 2.");
  for (size_t i = 0; i < reports.size(); ++i)
    EXPECT_EQ(lines[int(i) + 1].toStdString(), krt::describe_candidate(reports[i]));
  EXPECT_TRUE(lines[5].contains("Open Image")) << lines[5].toStdString();
  EXPECT_TRUE(lines[6].contains("“disk”")) << lines[6].toStdString();
}

// A disk the user may not read, as a normal user sees it: run as a user without the right to
// read it (scripts run this test through setpriv); as root it is skipped.
TEST_F(RecordSearchDlg, EmptyTreeSaysAnUnreadableDiskIsNotPermitted) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file; run as a normal user";
  krt_testing::ScratchDir scratch;
  const std::string locked = scratch.path("locked.img");
  fs::copy_file(CTwoDisks::Get().m_paths[0], locked);
  fs::permissions(locked, fs::perms::none);
  if (std::ifstream(locked).good()) GTEST_SKIP() << "this user may read a file of mode 0000";
  UseImages({locked});
  Make();
  EXPECT_EQ(m_dlg->Tree()->topLevelItemCount(), 0);
  const QString help = m_dlg->HelpText();
  EXPECT_TRUE(help.contains(QString::fromStdString(locked) + ": PermissionDenied")) << help.toStdString();
}

}  // namespace
