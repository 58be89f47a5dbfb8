// The record search tree.
#include "recordtree.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QMetaObject>
#include <QPixmap>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <infra/callback.h>
#include <krt/disk.h>
#include <krt/volume.h>

#include "dialogcpfile.h"
#include "dialogsaveto.h"
#include "initlanguage.h"
#include "recordsearch.h"

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
    : QWidget(parent), m_pOwner(owner), m_pTree(new QTreeWidget(this)) {
  Q_INIT_RESOURCE(treeimages);  // the picture strip lives in this static library
  m_pTree->setObjectName("1002");
  m_pTree->setHeaderHidden(true);
  m_pTree->setColumnCount(1);
  m_pTree->setRootIsDecorated(true);
  m_pTree->setIconSize(QSize(kImageSize, kImageSize));
  m_pTree->setContextMenuPolicy(Qt::CustomContextMenu);
  m_pTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_pTree->header()->setStretchLastSection(false);
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(0, 0, 0, 0);
  box->addWidget(m_pTree);
  connect(m_pTree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { ExpandItem(item); });
  connect(m_pTree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { OnDblclkItem(item); });
  connect(m_pTree, &QTreeWidget::customContextMenuRequested, this, &CRecordSearchDlg::OnContextMenu);

  LoadDisks();
  m_pHotPlugTimer = std::make_unique<infra::CTimer>("HotPlug");
  m_pHotPlugTimer->Start(infra::Callback::Member<&CRecordSearchDlg::CheckHotPlug>(this), kHotPlugMs,
                         kHotPlugMs, 0, 0);
}

CRecordSearchDlg::~CRecordSearchDlg() {
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
}

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

int CRecordSearchDlg::GetSelectedFilePath(std::string& path) const {
  path.clear();
  const QTreeWidgetItem* item = m_pTree->currentItem();
  if (!item || !item->isSelected() || Kind(item) != kindFile) return 0;
  path = RootedPath(item);
  return 1;
}

std::unique_ptr<QMenu> CRecordSearchDlg::MakeContextMenu(QTreeWidgetItem* item) {
  m_strMenuPath.clear();
  const int kind = Kind(item);
  if (!item || kind < kindPartition || kind > kindFile || !item->parent() || item->isDisabled()) return nullptr;
  m_nMenuKind = kind;
  m_strMenuPath = RootedPath(item);
  auto menu = std::make_unique<QMenu>(this);
  const CInitLanguage* language = CInitLanguage::Instance();
  QAction* copy = menu->addAction(language->GetString("CopyTo"), this, &CRecordSearchDlg::OnCopyTo);
  copy->setData(kCopyToId);
  copy->setObjectName(QString::number(kCopyToId));
  if (kind != kindPartition) {
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
  if (saveTo.exec() != QDialog::Accepted) return;
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
