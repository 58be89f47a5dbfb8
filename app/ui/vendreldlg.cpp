// CVendrelDlg: the main window's set-up, placement, menu commands and tear-down.
#include "vendreldlg.h"

#include "appdirs.h"
#include "dialogsaveto.h"
#include "gototime.h"
#include "initlanguage.h"
#include "keyboardhabits.h"
#include "messagebox.h"
#include "lumenpane/videowindow.h"
#include "modifypwd.h"
#include "playbackcommands.h"
#include "playermanager.h"
#include "programicon.h"
#include "recordtree.h"
#include "timelinehost.h"
#include "timelinepanel.h"
#include "replayerview.h"
#include "viewersettings.h"
#include "windowskin.h"
#include "profile/profile.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QTimerEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>

#include <profile/profile.h>

#ifndef VENDREL_VERSION
#define VENDREL_VERSION "0"
#endif

namespace {

QAction* AddCommand(QMenu* menu, const char* key, int id) {
  QAction* action = menu->addAction(CInitLanguage::Instance()->GetString(QString::fromLatin1(key)));
  action->setData(id);
  return action;
}

// The handle over the tree's left edge: dragging it sets the tree's width, releasing it stores
// the width.
class CTreeSplitter : public QWidget {
 public:
  CTreeSplitter(CVendrelDlg* owner) : QWidget(owner), m_pOwner(owner) {
    setObjectName(QStringLiteral("TreeSplitter"));
    setCursor(Qt::SplitHCursor);
    const QString tip = CInitLanguage::Instance()->GetString(QStringLiteral("TreeSplitter"));
    setToolTip(tip);
    setAccessibleName(tip);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override { m_nGrip = event->position().toPoint().x(); }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!(event->buttons() & Qt::LeftButton)) return;
    // The handle's left edge, which is the tree's, follows the pointer.
    const int x = m_pOwner->mapFromGlobal(event->globalPosition().toPoint()).x() - m_nGrip;
    m_pOwner->SetTreeWidth(m_pOwner->ClientRect().right() + 1 - x);
  }
  void mouseReleaseEvent(QMouseEvent*) override { m_pOwner->SetTreeWidth(m_pOwner->TreeWidth(), true); }

 private:
  CVendrelDlg* m_pOwner;
  int m_nGrip = 0;  // where in the handle the pointer took it
};

// A text of the language files by its key.
QString Text(const char* key) { return CInitLanguage::Instance()->GetString(QString::fromUtf8(key)); }

}  // namespace

CVendrelDlg::CVendrelDlg(QWidget* parent) : QDialog(parent) { OnInitDialog(); }

CVendrelDlg::~CVendrelDlg() { OnDestroy(); }

void CVendrelDlg::OnInitDialog() {
  setObjectName(QStringLiteral("102"));
  setWindowTitle(QStringLiteral("Vendrel"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  // The grid is a control of the dialog itself, there before the steps below.
  m_pVideoWnd = new lumenpane::CVideoWindow(this);
  m_pVideoWnd->setObjectName(QStringLiteral("1000"));
  CreateMenuBar();
  TranslateDialog();
  AddAboutEntry();
  SetIcons();
  ApplySkin();
  CreateChildren();
  InitVideoWindow();
  CreatePlayers();
  ShowFirstLayout();
  InstallKeyboardHabits(m_pVideoWnd, m_pReplayerView, m_pPlayback.get());
  PlaceWindow();
  StartStatusTimer();
}

void CVendrelDlg::CreateMenuBar() {
  m_pMenuBar = new QMenuBar(this);
  m_pMenuBar->setNativeMenuBar(false);
  QMenu* setting = m_pMenuBar->addMenu(CInitLanguage::Instance()->GetString(QStringLiteral("Setting")));
  AddCommand(setting, "ModifyPwd", kCmdModifyPwd);
  AddCommand(setting, "OpenImage", kCmdOpenImage)->setShortcut(QKeySequence::Open);
  AddCommand(setting, "Folders", kCmdFolders);
  AddCommand(setting, "GoToTime", CPlaybackCommands::kCmdGoToTime);
  m_pTimelineAction = AddCommand(setting, "ShowTimeline", kCmdShowTimeline);
  m_pTimelineAction->setCheckable(true);
  AddCommand(setting, "SaveTimeline", kCmdSaveTimeline);
  AddCommand(setting, "Exit", kCmdCancel)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(m_pMenuBar, &QMenuBar::triggered, this, [this](QAction* action) {
    if (action->data().isValid()) OnCommand(action->data().toInt());
  });
}

void CVendrelDlg::TranslateDialog() { CInitLanguage::Instance()->Translate(this); }

void CVendrelDlg::AddAboutEntry() {
  // The about entry stands at the end of the menu bar, after a separator.
  m_pMenuBar->addSeparator();
  QAction* about = m_pMenuBar->addAction(CInitLanguage::Instance()->GetString(QStringLiteral("About")));
  about->setData(kCmdAbout);
}

void CVendrelDlg::SetIcons() { setWindowIcon(vendrel::ProgramIcon()); }

void CVendrelDlg::ApplySkin() {
  m_skin = vendrel::ApplyWindowSkin(this);
  // The skin's system menu ends with the about entry, as the window's own would.
  auto* about = new QAction(CInitLanguage::Instance()->GetString(QStringLiteral("About")), this);
  connect(about, &QAction::triggered, this, [this] { OnCommand(kCmdAbout); });
  m_skin->SkinWin().AddSystemMenuAction(about);
}

void CVendrelDlg::CreateChildren() {
  // The playback commands start with sound and local record off in every window.
  m_pPlayback = std::make_unique<CPlaybackCommands>(m_pVideoWnd, &CPlayerManager::Instance(),
                                                    this, &Text);
  // Captures go to the folders chosen once (Folders), made when missing.
  const auto captureFolder = [](const QString* chosen) {
    return [chosen](std::string* folder) {
      if (!QDir().mkpath(*chosen)) return false;
      *folder = chosen->toStdString();
      return true;
    };
  };
  m_pPlayback->SetFolderChooser(captureFolder(&m_strRecordFolder));
  m_pPlayback->SetSnapshotFolderChooser(captureFolder(&m_strSnapshotFolder));
  m_pPlayback->ConnectVideoEvents();
  m_pReplayerView = new CReplayerView(m_pPlayback.get(), &Text, this);
  m_pReplayerView->SetMessageBox(
      [this](const QString&) { vendrel::ShowMessage(this, QStringLiteral("PlayBack.LoadImageFail")); });
  m_pReplayerView->OnInitDialog();
  m_pPlayback->SetProgressSink(
      [this](int window, int percent) { m_pReplayerView->SetProgress(window, percent); });
  m_pPlayback->SetPlayStarted([this] { StartStatusTimer(); });
  m_pPlayback->SetTimeSink([this](const QString& text) { m_pReplayerView->SetTimeText(text); });
  m_pPlayback->SetGoToTime([this] {
    CGoToTimeDlg dialog(m_pPlayback->FocusedMoment(), this);
    if (dialog.exec() == QDialog::Accepted) m_pPlayback->PositionAllAt(dialog.Moment());
  });
  // The record tree (130) brings the disks up as it is made.
  auto* tree = new CRecordSearchDlg(m_pPlayback.get(), this);
  tree->setObjectName(QStringLiteral("130"));
  tree->show();
  m_pTreeArea = tree;
  m_pTree = tree;
  setAcceptDrops(true);
  m_nTreeWidth = profile::GetInt(vendrel::ConfigFilePath(), "Layout", "TreeWidth", kTreeWidth);
  m_pSplitter = new CTreeSplitter(this);
  m_pPlayback->SetSelectedFile(
      [tree](std::string* rooted) { return tree->GetSelectedFilePath(*rooted) == 1; });
  // The timeline under the grid, shown as the user left it (hidden the first time, so the
  // grid keeps its place until the user asks for the panel).
  m_pTimeline = new CTimelineHost(m_pPlayback.get(), tree->Tree(), this);
  m_pTimeline->Panel()->setObjectName(QStringLiteral("Timeline"));
  m_pTimeline->SetRelayout([this] { OnSize(); });
  SetTimelineVisible(profile::GetInt(vendrel::ConfigFilePath(), "view", "Timeline", 0) != 0);
}

void CVendrelDlg::SetTimelineVisible(bool on) {
  if (!m_pTimeline) return;
  m_pTimeline->Panel()->setVisible(on);
  if (m_pTimelineAction) m_pTimelineAction->setChecked(on);
  OnSize();
}

bool CVendrelDlg::TimelineVisible() const { return m_pTimeline && !m_pTimeline->Panel()->isHidden(); }

void CVendrelDlg::InitVideoWindow() {
  m_pVideoWnd->SetLanguageFile(QString::fromStdString(CInitLanguage::Instance()->GetLanguageFilePath()));
  m_pVideoWnd->SetMode(lumenpane::CVideoWindow::kModeCaptions, false);
  m_pVideoWnd->SetMode(lumenpane::CVideoWindow::kModeStretch, false);
  m_pVideoWnd->SetWndCount(1);
}

void CVendrelDlg::CreatePlayers() {
  CPlayerManager& manager = CPlayerManager::Instance();
  for (int j = 0; j < CPlayerManager::kPlayerCount; ++j)
    manager.CreatePlayer(m_pVideoWnd->GetWndHandle(j), j);
}

void CVendrelDlg::ShowFirstLayout() {
  const vendrel::ViewerSettings settings = vendrel::LoadViewerSettings();
  m_strSnapshotFolder = settings.snapshotFolder;
  m_strRecordFolder = settings.recordFolder;
  m_pPlayback->SetLayout(settings.layout);
  m_pPlayback->SetTimeLabels(settings.timeLabels);
  m_pPlayback->UpdateAudio();
}

void CVendrelDlg::StartStatusTimer() {
  if (!m_nStatusTimer) m_nStatusTimer = startTimer(1000);
}

void CVendrelDlg::timerEvent(QTimerEvent* event) {
  // The pass that finds every window idle (and writes their idle texts) is the last one until
  // the next play starts: an idle viewer does not wake for it.
  if (event->timerId() == m_nStatusTimer) {
    if (m_pTimeline && TimelineVisible()) m_pTimeline->Tick();
    if (!m_pPlayback->StatusPass()) {
      killTimer(m_nStatusTimer);
      m_nStatusTimer = 0;
    }
  }
  QDialog::timerEvent(event);
}

void CVendrelDlg::OnDestroy() {
  if (m_nStatusTimer) killTimer(m_nStatusTimer);
  m_nStatusTimer = 0;
  if (m_pPlayback)
    for (int i = 0; i < CPlaybackCommands::kWindowCount; ++i) m_pPlayback->ReleaseWindow(i);
  // The players go before the panes they draw into; the bar and the tree go with the children.
  CPlayerManager::DestroyInstance();
  m_pPlayback.reset();
}

void CVendrelDlg::PlaceWindow() {
  move(0, 0);
  resize(970, 630);
  const vendrel::ViewerSettings settings = vendrel::LoadViewerSettings();
  // restoreGeometry brings a window from a monitor that is gone back onto one that is there.
  if (!settings.geometry.isEmpty()) restoreGeometry(settings.geometry);
  if (settings.maximized) setWindowState(windowState() | Qt::WindowMaximized);
  OnSize();
}

void CVendrelDlg::SaveSettings() {
  vendrel::ViewerSettings settings = vendrel::LoadViewerSettings();
  // Full screen is left out: the window comes back as it was before it.
  const bool full = isFullScreen();
  if (full) m_pPlayback->ToggleFullScreen();
  settings.geometry = saveGeometry();
  settings.maximized = isMaximized();
  if (full) m_pPlayback->ToggleFullScreen();
  settings.layout = m_pPlayback->Layout();
  settings.timeLabels = m_pPlayback->TimeLabels();
  settings.snapshotFolder = m_strSnapshotFolder;
  settings.recordFolder = m_strRecordFolder;
  vendrel::SaveViewerSettings(settings);
}

QRect CVendrelDlg::ClientRect() const {
  // contentsRect: the window less a skin's frame (the whole window without one).
  const QRect inner = contentsRect();
  const int menu = m_pMenuBar ? m_pMenuBar->sizeHint().height() : 0;
  return QRect(inner.left(), inner.top() + menu, inner.width(), std::max(0, inner.height() - menu));
}

void CVendrelDlg::OnSize() {
  if (!m_pVideoWnd || !m_pTreeArea) return;
  const QRect client = ClientRect();
  const int w = client.width();
  const int h = client.height();
  if (m_pMenuBar) m_pMenuBar->setGeometry(client.left(), contentsRect().top(), w, client.top() - contentsRect().top());
  const auto place = [&client](QWidget* child, int left, int top, int right, int bottom) {
    child->setGeometry(client.left() + left, client.top() + top, std::max(0, right - left),
                       std::max(0, bottom - top));
  };
  const int tree = m_nTreeWidth;
  // The timeline takes the height its rows want, at most a third of the grid's.
  int timeline = 0;
  if (m_pTimeline && TimelineVisible()) {
    timeline = std::min(m_pTimeline->Panel()->sizeHint().height(), (h - kBarHeight) / 3);
    place(m_pTimeline->Panel(), 0, h - kBarHeight - timeline, w - tree, h - kBarHeight);
  }
  place(m_pVideoWnd, 0, 0, w - tree, h - kBarHeight - timeline);
  if (m_pReplayerView) {
    place(m_pReplayerView, 0, h - kBarHeight, w - tree, h);
    if (m_pReplayerView->isHidden()) m_pReplayerView->show();
  }
  place(m_pTreeArea, w - tree, 0, w, h);
  if (m_pSplitter) {
    place(m_pSplitter, w - tree, 0, w - tree + kSplitterWidth, h);
    m_pSplitter->raise();
  }
}

void CVendrelDlg::SetTreeWidth(int width, bool store) {
  const int client = ClientRect().width();
  m_nTreeWidth = std::max(kMinTreeWidth, std::min(width, client - kMinTreeWidth));
  OnSize();
  if (store)
    profile::WriteString(vendrel::ConfigFilePath(), "Layout", "TreeWidth", std::to_string(m_nTreeWidth));
}

void CVendrelDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  OnSize();
}

void CVendrelDlg::keyPressEvent(QKeyEvent* event) {
  // The main window is no message box: Enter has nothing to confirm and Escape nothing to
  // cancel; Escape steps back out of full screen and the full-pane view instead.
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();
      return;
    case Qt::Key_Escape:
      LeaveOneLevel();
      event->accept();
      return;
    case Qt::Key_F11:
      m_pPlayback->ToggleFullScreen();
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool CVendrelDlg::LeaveOneLevel() {
  if (isFullScreen()) {
    m_pPlayback->ToggleFullScreen();
    return true;
  }
  if (m_pPlayback->IsFullPane()) {
    m_pPlayback->ToggleDisplay();
    return true;
  }
  return false;
}

bool CVendrelDlg::ConfirmEnd() {
  return !m_pPlayback ||
         m_pPlayback->MayEnd([this] { return vendrel::AskOkCancel(this, QStringLiteral("QuitWhileRecording")); });
}

void CVendrelDlg::reject() {
  if (!ConfirmEnd()) return;
  SaveSettings();
  QDialog::reject();
}

QStringList CVendrelDlg::OpenImages(const QStringList& paths) {
  if (paths.isEmpty()) return {};
  const QStringList refusals = m_pTree->OpenImages(paths);
  if (!refusals.isEmpty()) ShowRefusals(refusals);
  return refusals;
}

QStringList CVendrelDlg::ChooseImages() {
  return QFileDialog::getOpenFileNames(this, Text("OpenImage").remove(QChar(0x2026)), QDir::homePath(),
                                       Text("OpenImageFilter"));
}

void CVendrelDlg::ShowRefusals(const QStringList& lines) {
  QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                  Text("ImageRefused") + "\n" + lines.join('\n'), QMessageBox::Ok, this);
  box.exec();
}

void CVendrelDlg::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); }))
    event->acceptProposedAction();
}

void CVendrelDlg::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  event->acceptProposedAction();
  // The message of a refusal must not hold the drag source waiting: shown after the drop.
  QMetaObject::invokeMethod(this, [this, paths] { OpenImages(paths); }, Qt::QueuedConnection);
}

void CVendrelDlg::ShowFolders() {
  QDialog dialog(this);
  dialog.setWindowTitle(Text("Folders").remove(QChar(0x2026)));
  auto* form = new QFormLayout(&dialog);
  const auto row = [&](const char* key, const QString& folder) {
    auto* edit = new QLineEdit(folder, &dialog);
    edit->setMinimumWidth(320);
    auto* browse = new QPushButton(Text("FilePath"), &dialog);
    connect(browse, &QPushButton::clicked, &dialog, [&dialog, edit] {
      const QString chosen = QFileDialog::getExistingDirectory(&dialog, Text("Selectfolder"), edit->text());
      if (!chosen.isEmpty()) edit->setText(chosen);
    });
    auto* line = new QHBoxLayout;
    line->addWidget(edit, 1);
    line->addWidget(browse);
    form->addRow(Text(key), line);
    return edit;
  };
  QLineEdit* snapshots = row("SnapshotFolder", m_strSnapshotFolder);
  QLineEdit* records = row("RecordFolder", m_strRecordFolder);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(Text("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(Text("Cancel"));
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return;
  if (!snapshots->text().trimmed().isEmpty()) m_strSnapshotFolder = snapshots->text().trimmed();
  if (!records->text().trimmed().isEmpty()) m_strRecordFolder = records->text().trimmed();
  SaveSettings();
}

bool CVendrelDlg::OnCommand(int id) {
  switch (id) {
    case kCmdModifyPwd:
      ShowModifyPwd();
      return true;
    case kCmdOpenImage:
      OpenImages(ChooseImages());
      return true;
    case kCmdFolders:
      ShowFolders();
      return true;
    case kCmdCancel:
      reject();
      return true;
    case kCmdAbout:
      ShowAbout();
      return true;
    case kCmdShowTimeline:
      SetTimelineVisible(!TimelineVisible());
      profile::WriteString(vendrel::ConfigFilePath(), "view", "Timeline", TimelineVisible() ? "1" : "0");
      return true;
    case kCmdSaveTimeline:
      if (m_pTimeline) m_pTimeline->SavePicture();
      return true;
    default:
      return m_pPlayback && m_pPlayback->OnCommand(id);
  }
}

QString CVendrelDlg::AboutText() {
  return QStringLiteral("Vendrel\n%1 %2")
      .arg(CInitLanguage::Instance()->GetString(QStringLiteral("Version")), QStringLiteral(VENDREL_VERSION));
}

void CVendrelDlg::ShowAbout() {
  QMessageBox box(QMessageBox::NoIcon, CInitLanguage::Instance()->GetString(QStringLiteral("AboutTitle")),
                  AboutText(), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("100"));
  box.setIconPixmap(vendrel::ProgramIcon().pixmap(64, 64));
  vendrel::FitTitle(&box);
  box.exec();
}

void CVendrelDlg::ShowModifyPwd() {
  CModifyPwd dialog(this);
  dialog.exec();
}
