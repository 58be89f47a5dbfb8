// The record search tree.
#include "recordtree.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>
#include <QPixmap>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <thread>

#include <infra/callback.h>
#include <krt/disk.h>
#include <krt/volume.h>

#include "dialogcpfile.h"
#include "dialogsaveto.h"
#include "initlanguage.h"
#include "recordsearch.h"
#include "viewersettings.h"

namespace {

using namespace recordsearch;

constexpr int kDiskRole = Qt::UserRole + 1;     // a drive root's disk index
constexpr int kCheckedRole = Qt::UserRole + 2;  // a recording was checked for all-zero bytes
constexpr int kAllZeroRole = Qt::UserRole + 3;  // ... and every byte of it reads as zero
constexpr int kImageSize = 16;

// The pictures of the strip (six 16-pixel images).
enum Image { imageDrive = 0, imageFile = 2, imageFolder = 4, imageOpenFolder = 5 };

// The picture strip, cut into its images.
const std::vector<QPixmap>& Images() {
  static const std::vector<QPixmap> images = [] {
    const QPixmap strip(":/vendrel/treeimages.png");
    std::vector<QPixmap> out;
    for (int x = 0; x + kImageSize <= strip.width(); x += kImageSize)
      out.push_back(strip.copy(x, 0, kImageSize, kImageSize));
    return out;
  }();
  return images;
}

// The icon of normal image n, showing image selected when the item is selected.
QIcon ImageIcon(int normal, int selected) {
  const std::vector<QPixmap>& images = Images();
  QIcon icon;
  if (size_t(selected) >= images.size()) return icon;
  icon.addPixmap(images[size_t(normal)], QIcon::Normal);
  icon.addPixmap(images[size_t(selected)], QIcon::Selected);
  return icon;
}

// The icon of an item of kind.
QIcon KindIcon(int kind) {
  switch (kind) {
    case kindDrive: return ImageIcon(imageDrive, imageDrive);
    case kindFile: return ImageIcon(imageFile, imageFile);
    default: return ImageIcon(imageFolder, imageOpenFolder);
  }
}

}  // namespace

CRecordSearchDlg::CRecordSearchDlg(IRecordSearchParent* owner, QWidget* parent)
    : QWidget(parent), m_pOwner(owner), m_pTree(new QTreeWidget(this)), m_pHelp(new QLabel(this)) {
  Q_INIT_RESOURCE(treeimages);  // the picture strip lives in this static library
  m_pTree->setObjectName("1002");
  m_pTree->setHeaderHidden(true);
  m_pTree->setColumnCount(1);
  m_pTree->setRootIsDecorated(true);
  m_pTree->setIconSize(QSize(kImageSize, kImageSize));
  m_pTree->setContextMenuPolicy(Qt::CustomContextMenu);
  m_pTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_pTree->header()->setStretchLastSection(false);
  m_pHelp->setObjectName("1003");
  m_pHelp->setWordWrap(true);
  m_pHelp->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_pHelp->setContentsMargins(6, 6, 6, 6);
  m_pHelp->hide();
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  box->addWidget(m_pHelp);
  box->addWidget(m_pTree, 1);
  connect(m_pTree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { ExpandItem(item); });
  connect(m_pTree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { OnDblclkItem(item); });
  connect(m_pTree, &QTreeWidget::customContextMenuRequested, this, &CRecordSearchDlg::OnContextMenu);
  m_pTree->installEventFilter(this);

  m_pHotPlugTimer = std::make_unique<infra::CTimer>("HotPlug");
  m_pHotPlugWatch = std::make_unique<CHotPlugWatch>([this] { ScheduleHotPlug(kHotPlugSettleMs); });
  LoadDisks();
}

CRecordSearchDlg::~CRecordSearchDlg() {
  m_pHotPlugWatch.reset();  // no notification schedules the count from now on
  m_pHotPlugTimer->StopAndWait();
}

void CRecordSearchDlg::LoadDisks() {
  m_bRebuildQueued = false;
  m_pTree->clear();
  krt::volume_startup();
  const std::vector<std::string> labels = DriveLabels();
  m_nDriveCount = int(labels.size());
  m_nCountedDisks = m_nDriveCount;
  ++m_nLoadCount;
  for (size_t i = 0; i < labels.size(); ++i) AddDriveRoot(QString::fromStdString(labels[i]), int(i));
  m_pHotPlugWatch->SetFolders(krt::disk_image_folders());
  m_bNotifying = m_pHotPlugWatch->Notifying();
  if (!m_bNotifying) ScheduleHotPlug(kHotPlugMs);
  UpdateHelp();
}

bool CRecordSearchDlg::HotPlugNotifying() const { return m_bNotifying.load(); }

void CRecordSearchDlg::ScheduleHotPlug(uint32_t delayMs) {
  // Without notifications the count runs periodically; a notification only brings it forward.
  const uint32_t period = HotPlugNotifying() ? 0 : kHotPlugMs;
  m_pHotPlugTimer->Start(infra::Callback::Member<&CRecordSearchDlg::CheckHotPlug>(this), delayMs,
                         period, 0, 0);
}

QString CRecordSearchDlg::EmptyTreeHelp(const std::vector<krt::CandidateReport>& reports) {
  const CInitLanguage* language = CInitLanguage::Instance();
  int devices = 0;
  QString group;
  QStringList lines;
  for (const krt::CandidateReport& r : reports) {
    devices += r.block_device ? 1 : 0;
    // The words of krt::describe_candidate, from the language file.
    QString line = QString::fromStdString(r.path) + ": ";
    switch (r.verdict) {
      case krt::CandidateReport::attached: continue;
      case krt::CandidateReport::not_recorder_disk: line += language->GetString("NotRecorderDisk"); break;
      case krt::CandidateReport::permission_denied:
        line += language->GetString("PermissionDenied");
        if (group.isEmpty()) group = QString::fromStdString(r.group);
        break;
      case krt::CandidateReport::refused:
        line += language->GetString("Refused") + ": " + QString::fromStdString(r.detail);
        break;
      case krt::CandidateReport::cannot_open:
        line += language->GetString("CannotOpen") + ": " + QString::fromStdString(r.detail);
        break;
    }
    lines << line;
  }
  // Placeholders filled by replace: a text without them (a missing key) stays as it is.
  QString text = language->GetString("NoDiskFound")
                     .replace("%1", QString::number(devices))
                     .replace("%2", QString::number(int(reports.size()) - devices));
  for (const QString& line : lines) text += "\n" + line;
  text += "\n" + language->GetString("NoDiskOpenImage");
  if (!group.isEmpty()) text += "\n" + language->GetString("NoDiskJoinGroup").replace("%1", group);
  return text;
}

void CRecordSearchDlg::UpdateHelp() {
  if (m_nDriveCount > 0) {
    m_pHelp->clear();
    m_pHelp->hide();
    return;
  }
  m_pHelp->setText(EmptyTreeHelp(krt::candidate_reports()));
  m_pHelp->show();
}

QString CRecordSearchDlg::HelpText() const { return m_pHelp->isHidden() ? QString() : m_pHelp->text(); }

QStringList CRecordSearchDlg::OpenImages(const QStringList& paths) {
  std::vector<std::string> images = krt::given_disk_images();
  QStringList added;
  for (const QString& path : paths) {
    const std::string p = path.toStdString();
    if (std::find(images.begin(), images.end(), p) != images.end()) continue;
    images.push_back(p);
    added << path;
  }
  krt::set_disk_candidates(images);
  LoadDisks();
  QStringList refusals;
  const std::vector<krt::CandidateReport> reports = krt::candidate_reports();
  for (const QString& path : added) {
    const auto report = std::find_if(reports.begin(), reports.end(),
                                     [&](const krt::CandidateReport& r) { return r.path == path.toStdString(); });
    if (report != reports.end() && report->verdict == krt::CandidateReport::attached) {
      m_openedImages << path;
      continue;
    }
    refusals << (report != reports.end() ? QString::fromStdString(krt::describe_candidate(*report))
                                         : path + ": " + CInitLanguage::Instance()->GetString("CannotOpen"));
    images.erase(std::find(images.begin(), images.end(), path.toStdString()));
  }
  if (!refusals.isEmpty()) krt::set_disk_candidates(images);
  return refusals;
}

bool CRecordSearchDlg::CloseImage(const QString& path) {
  if (!m_openedImages.removeOne(path)) return false;
  std::vector<std::string> images = krt::given_disk_images();
  std::erase(images, path.toStdString());
  krt::set_disk_candidates(images);
  LoadDisks();
  return true;
}

void CRecordSearchDlg::OnCloseImage() { CloseImage(m_strMenuImage); }

void CRecordSearchDlg::CheckHotPlug(uint32_t) {
  if (krt::count_attached_disks() == m_nCountedDisks.load() || m_bRebuildQueued.exchange(true)) return;
  QMetaObject::invokeMethod(this, [this] { LoadDisks(); }, Qt::QueuedConnection);
}

void CRecordSearchDlg::AddDriveRoot(const QString& label, int disk) {
  auto* root = new QTreeWidgetItem(m_pTree, QStringList(label));
  root->setToolTip(0, QString::fromStdString(krt::disk_source(disk)));
  root->setData(0, Qt::UserRole, int(kindDrive));
  root->setData(0, kDiskRole, disk);
  root->setIcon(0, KindIcon(kindDrive));
  auto* placeholder = new QTreeWidgetItem(root, QStringList("text"));
  placeholder->setData(0, Qt::UserRole, 0);
  placeholder->setIcon(0, ImageIcon(imageFolder, imageFolder));
}

QTreeWidgetItem* CRecordSearchDlg::AddChild(QTreeWidgetItem* parent, const QString& label, int kind) {
  auto* item = new QTreeWidgetItem(parent, QStringList(label));
  item->setData(0, Qt::UserRole, kind);
  item->setIcon(0, KindIcon(kind));
  return item;
}

int CRecordSearchDlg::Kind(const QTreeWidgetItem* item) { return item ? item->data(0, Qt::UserRole).toInt() : -1; }

QString CRecordSearchDlg::GetItemPath(const QTreeWidgetItem* item) {
  QStringList labels;
  for (; item; item = item->parent()) labels.prepend(item->text(0));
  QString path;
  for (const QString& label : labels) {
    if (!path.isEmpty() && !path.endsWith('/')) path += '/';
    path += label;
  }
  return path;
}

std::string CRecordSearchDlg::RootedPath(const QTreeWidgetItem* item) {
  std::string path;
  for (; item && item->parent(); item = item->parent())
    path = path.empty() ? item->text(0).toStdString() : item->text(0).toStdString() + "/" + path;
  return path;
}

void CRecordSearchDlg::AddChildren(QTreeWidgetItem* item, int kind, bool fill) {
  const QTreeWidgetItem* root = item;
  while (root->parent()) root = root->parent();
  const int disk = root->data(0, kDiskRole).toInt();
  std::vector<std::string> components;
  if (item != root) {
    const std::string rooted = RootedPath(item);
    size_t from = 0;
    for (size_t slash; (slash = rooted.find('/', from)) != std::string::npos; from = slash + 1)
      components.push_back(rooted.substr(from, slash - from));
    components.push_back(rooted.substr(from));
  }
  const CInitLanguage* language = CInitLanguage::Instance();
  for (const ChildItem& entry : ChildItems(disk, components)) {
    QTreeWidgetItem* child = AddChild(item, QString::fromStdString(entry.label), kind);
    QString tip = QString::fromStdString(entry.tooltip);
    if (entry.unavailable) {
      // Greyed, with the start-up's reason; nothing below it to expand.
      tip = language->GetString("PartitionUnavailable") + " " + tip;
      child->setDisabled(true);
    }
    child->setToolTip(0, tip);
    child->setData(0, Qt::AccessibleDescriptionRole, tip);
    if (fill && !entry.unavailable) FillChildren(child);
  }
}

void CRecordSearchDlg::MarkDamage(QTreeWidgetItem* channel) {
  for (int i = 0; i < channel->childCount(); ++i) {
    QTreeWidgetItem* file = channel->child(i);
    if (Kind(file) != kindFile || file->data(0, kCheckedRole).toBool()) continue;
    file->setData(0, kCheckedRole, true);
    if (!RecordingAllZero(RootedPath(file))) continue;
    const QString tip = file->text(0) + "\n" + CInitLanguage::Instance()->GetString("AllZeroRecording");
    file->setData(0, kAllZeroRole, true);
    file->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxWarning));
    file->setToolTip(0, tip);
    file->setData(0, Qt::AccessibleDescriptionRole, tip);
  }
}

bool CRecordSearchDlg::IsAllZero(const QTreeWidgetItem* item) {
  return item && item->data(0, kAllZeroRole).toBool();
}

void CRecordSearchDlg::FillChildren(QTreeWidgetItem* item) {
  const int kind = Kind(item);
  if (kind >= kindPartition && kind <= kindChannel) AddChildren(item, kind + 1, false);
}

bool CRecordSearchDlg::ExpandItem(QTreeWidgetItem* item) {
  const int kind = Kind(item);
  if (kind == kindChannel) MarkDamage(item);
  if (kind >= kindChannel) return kind == kindChannel;
  for (QTreeWidgetItem* child : item->takeChildren()) delete child;
  AddChildren(item, kind + 1, true);
  return true;
}

void CRecordSearchDlg::OnDblclkItem(QTreeWidgetItem* item) {
  if (Kind(item) != kindFile || !m_pOwner) return;
  m_pOwner->PlayFile("/mnt/" + RootedPath(item));
}

void CRecordSearchDlg::OnEnter(QTreeWidgetItem* item) {
  if (!item) return;
  if (Kind(item) == kindFile) OnDblclkItem(item);
  else item->setExpanded(!item->isExpanded());
}

bool CRecordSearchDlg::eventFilter(QObject* watched, QEvent* event) {
  // Enter is the tree's own: it must never reach the window, which would end with it.
  if (watched == m_pTree && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      OnEnter(m_pTree->currentItem());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

int CRecordSearchDlg::GetSelectedFilePath(std::string& path) const {
  path.clear();
  const QTreeWidgetItem* item = m_pTree->currentItem();
  if (!item || !item->isSelected() || Kind(item) != kindFile) return 0;
  path = RootedPath(item);
  return 1;
}

std::unique_ptr<QMenu> CRecordSearchDlg::MakeContextMenu(QTreeWidgetItem* item) {
  m_strMenuPath.clear();
  m_strMenuImage.clear();
  const int kind = Kind(item);
  if (item && kind == kindDrive && !item->parent()) {
    // Only images the user opened here can be closed here.
    const QString image = QString::fromStdString(krt::disk_source(item->data(0, kDiskRole).toInt()));
    if (!m_openedImages.contains(image)) return nullptr;
    m_strMenuImage = image;
    auto menu = std::make_unique<QMenu>(this);
    QAction* close = menu->addAction(CInitLanguage::Instance()->GetString("CloseImage"), this,
                                     &CRecordSearchDlg::OnCloseImage);
    close->setData(kCloseImageId);
    close->setObjectName(QString::number(kCloseImageId));
    return menu;
  }
  if (!item || kind < kindPartition || kind > kindFile || !item->parent() || item->isDisabled()) return nullptr;
  m_nMenuKind = kind;
  m_strMenuPath = RootedPath(item);
  auto menu = std::make_unique<QMenu>(this);
  const CInitLanguage* language = CInitLanguage::Instance();
  QAction* copy = menu->addAction(language->GetString("CopyTo"), this, &CRecordSearchDlg::OnCopyTo);
  copy->setData(kCopyToId);
  copy->setObjectName(QString::number(kCopyToId));
  // A channel has no partners to play beside it: synchronous play starts at a day or a recording.
  if (kind == kindDay || kind == kindFile) {
    QAction* sync = menu->addAction(language->GetString("SyncPlay"), this, &CRecordSearchDlg::OnSyncPlay);
    sync->setData(kSyncPlayId);
    sync->setObjectName(QString::number(kSyncPlayId));
  }
  return menu;
}

void CRecordSearchDlg::OnContextMenu(const QPoint& pos) {
  const std::unique_ptr<QMenu> menu = MakeContextMenu(m_pTree->itemAt(pos));
  if (menu) menu->exec(m_pTree->viewport()->mapToGlobal(pos));
}

void CRecordSearchDlg::OnCopyTo() {
  CCopyJob job = BuildCopyJob(m_nMenuKind, m_strMenuPath);
  if (job.IsEmpty()) return;
  CDialogSaveTo saveTo(this);
  vendrel::ViewerSettings settings = vendrel::LoadViewerSettings();
  if (!settings.exportFolder.isEmpty()) saveTo.SetPath(settings.exportFolder);
  if (saveTo.exec() != QDialog::Accepted) return;
  settings.exportFolder = saveTo.m_strPath;
  vendrel::SaveViewerSettings(settings);
  job.m_strFolder = saveTo.m_strPath.toStdString();
  CDialogCpFile copy(this);
  copy.SetJob(job);
  copy.exec();
}

void CRecordSearchDlg::OnSyncPlay() {
  SyncPlayTable table;
  const int n = BuildSyncPlayTable(m_nMenuKind, m_strMenuPath, table);
  if (n <= 0 || !m_pOwner) return;
  m_pOwner->SetLayoutForCount(n);
  m_pOwner->PlayFiles(table, n);
}
