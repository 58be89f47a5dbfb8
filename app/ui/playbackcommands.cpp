#include "playbackcommands.h"

#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>

#include <algorithm>

#include <lumenpane/videowindow.h>

#include "appdirs.h"
#include "messagebox.h"
#include "playermanager.h"

using lumenpane::CVideoWindow;

namespace {

// The layout menu's entries for one window count each (six and nine have sub-menus).
struct LayoutEntry {
  int id;
  int count;
  const char* key;
};
constexpr LayoutEntry kLayoutEntries[] = {
    {CPlaybackCommands::kCmdLayout1, 1, "Layout1"},     {CPlaybackCommands::kCmdLayout4, 4, "Layout4"},
    {CPlaybackCommands::kCmdLayout16, 16, "Layout16"},  {CPlaybackCommands::kCmdLayout25, 25, "Layout25"},
    {CPlaybackCommands::kCmdLayout36, 36, "Layout36"},
};

const LayoutEntry* FindLayoutEntry(int id) {
  for (const LayoutEntry& e : kLayoutEntries)
    if (e.id == id) return &e;
  return nullptr;
}

}  // namespace

CPlaybackCommands::CPlaybackCommands(CVideoWindow* video, CPlayerManager* manager,
                                     QWidget* owner, TextLookup texts)
    : m_pVideo(video),
      m_pManager(manager),
      m_pOwner(owner),
      m_texts(std::move(texts)),
      m_nLayout(video->GetWndCount()) {
  if (!m_texts) m_texts = [](const char* key) { return QString::fromUtf8(key); };
}

void CPlaybackCommands::ConnectVideoEvents() {
  QObject::connect(m_pVideo, &CVideoWindow::contextMenuRequested, m_pVideo,
                   [this](int, QPoint globalPos) { ShowContextMenu(globalPos); });
  QObject::connect(m_pVideo, &CVideoWindow::layoutChanged, m_pVideo,
                   [this](int count) { SetLayout(count); });
  QObject::connect(m_pVideo, &CVideoWindow::wndDoubleClicked, m_pVideo,
                   [this](int) { ToggleDisplay(); });
}

int CPlaybackCommands::FocusedWnd() const { return m_pVideo->GetCurWnd(); }

// ---------------------------------------------------------------------------------------------
// Playing
// ---------------------------------------------------------------------------------------------

void CPlaybackCommands::CloseIfBusy(int i) {
  if (m_pManager->GetState(i) == CPlayer::stateIdle) return;
  m_pManager->Close(i);
  m_bRecord[static_cast<size_t>(i)] = false;  // the engine ends the record with the stream
}

bool CPlaybackCommands::HasContent(int i) const {
  return m_pManager->GetState(i) != CPlayer::stateIdle || m_pManager->GetEnded(i) != CPlayer::endNone;
}

int CPlaybackCommands::PlayFile(const std::string& path) { return PlayFileAt(path, 0); }

int CPlaybackCommands::PlayFileAt(const std::string& path, int64_t ms) {
  if (path.empty()) return 0;
  const int w = FocusedWnd();
  CloseIfBusy(w);
  m_strLastPath = path;
  const int opened = ms > 0 ? m_pManager->Open(w, path, ms) : m_pManager->Open(w, path);
  if (opened && m_started) m_started();
  return opened;
}

int CPlaybackCommands::PlayFile() {
  std::string rooted;
  if (!m_selected || !m_selected(&rooted)) return 0;
  return PlayFile("/mnt/" + rooted);
}

int CPlaybackCommands::PlayFiles(const SyncPlayTable& table, int n) {
  for (int i = 0; i < n && i < static_cast<int>(table.size()); ++i) {
    if (table[static_cast<size_t>(i)].empty()) continue;
    CloseIfBusy(i);
    m_strLastPath = table[static_cast<size_t>(i)];
    m_pManager->Open(i, table[static_cast<size_t>(i)]);
  }
  if (m_started) m_started();
  return 1;
}

void CPlaybackCommands::SetLayoutForCount(int n) {
  for (int count : {4, 9, 16, 25}) {
    if (n <= count) return SetLayout(count);
  }
  SetLayout(36);
}

void CPlaybackCommands::SetLayout(int n) {
  for (int i = std::max(n, 0); i < kWindowCount; ++i) {
    if (m_pManager->GetState(i) == 1) m_pManager->Pause(i, 1);
    MuteWindow(i);
  }
  m_nLayout = n;
  m_pVideo->SetWndCount(n);
  const QString logo = QString::fromStdString(vendrel::ResourceDir() + "Skin/logo.bmp");
  if (!QFileInfo::exists(logo)) return;
  for (int i = 0; i < n; ++i)
    if (m_pVideo->GetWndHandle(i)) m_pVideo->SetWndLogo(i, logo);
}

// ---------------------------------------------------------------------------------------------
// The control bar's commands
// ---------------------------------------------------------------------------------------------

int CPlaybackCommands::GetFocusedState() const { return m_pManager->GetState(FocusedWnd()); }

void CPlaybackCommands::ForBusy(const std::function<void(int)>& action) {
  for (int i = 0; i < kWindowCount; ++i) {
    if (m_pManager->GetState(i) != CPlayer::stateIdle) action(i);
  }
}

int CPlaybackCommands::PauseAll() {
  for (int i = 0; i < kWindowCount; ++i) {
    const int s = m_pManager->GetState(i);
    if (s == CPlayer::statePlaying) m_pManager->Pause(i, 1);
    else if (s == CPlayer::statePaused) m_pManager->Pause(i, 0);
  }
  return 1;
}

int CPlaybackCommands::TogglePauseAll() {
  bool anyPlaying = false;
  ForBusy([&](int i) { anyPlaying = anyPlaying || m_pManager->GetState(i) == CPlayer::statePlaying; });
  ForBusy([&](int i) {
    const int s = m_pManager->GetState(i);
    if (anyPlaying && s == CPlayer::statePlaying) m_pManager->Pause(i, 1);
    if (!anyPlaying && (s == CPlayer::statePaused || s == CPlayer::stateSingleFrame)) m_pManager->Pause(i, 0);
  });
  return 1;
}

int CPlaybackCommands::StopAll() {
  for (int i = 0; i < kWindowCount; ++i) {
    if (!HasContent(i)) continue;
    m_pManager->Stop(i);
    ResetWindow(i);
  }
  return 1;
}

int CPlaybackCommands::SlowAll(int level) {
  ForBusy([&](int i) { m_pManager->SetSlow(i, level); });
  return 1;
}

int CPlaybackCommands::FastAll(int level) {
  ForBusy([&](int i) { m_pManager->SetFast(i, level); });
  return 1;
}

int CPlaybackCommands::StepFrontAll() {
  ForBusy([this](int i) { m_pManager->StepFront(i); });
  return 1;
}

int CPlaybackCommands::StepNextAll() {
  ForBusy([this](int i) { m_pManager->StepNext(i); });
  return 1;
}

int CPlaybackCommands::ResumeAll() {
  ForBusy([this](int i) { m_pManager->Resume(i); });
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------------------------

void CPlaybackCommands::MuteWindow(int w) {
  const auto k = static_cast<size_t>(w);
  if (!m_bAudio[k]) return;
  m_pManager->SoundOff(w);
  m_bAudio[k] = false;
  if (m_nAudioWnd == w) m_nAudioWnd = -1;
  m_pVideo->SetWndMark(w, CVideoWindow::kMarkSound, false);
}

bool CPlaybackCommands::AnyRecording() {
  ForgetEndedRecords();
  return std::find(m_bRecord.begin(), m_bRecord.end(), true) != m_bRecord.end();
}

void CPlaybackCommands::StopAllRecords() {
  for (int i = 0; i < kWindowCount; ++i) {
    if (!m_bRecord[static_cast<size_t>(i)]) continue;
    m_pManager->StopRecord(i);
    m_bRecord[static_cast<size_t>(i)] = false;
  }
}

bool CPlaybackCommands::MayEnd(const std::function<bool()>& ask) {
  if (!AnyRecording()) return true;
  if (!ask || !ask()) return false;
  StopAllRecords();
  return true;
}

void CPlaybackCommands::ReleaseWindow(int i) {
  if (!ValidWnd(i)) return;
  const auto k = static_cast<size_t>(i);
  MuteWindow(i);
  if (m_bRecord[k]) {
    m_pManager->StopRecord(i);
    m_bRecord[k] = false;
  }
  m_pVideo->ClearWnd(i);
}

void CPlaybackCommands::ResetWindow(int i) {
  ReleaseWindow(i);
  m_pVideo->ClearWnd(i);
  m_pVideo->SetWndStatus(i, StatusText(0));
}

void CPlaybackCommands::UpdateAudio() {
  const int w = FocusedWnd();
  if (m_bAudio[static_cast<size_t>(w)]) {
    m_pManager->SoundOn(w);
    m_nAudioWnd = w;
  } else if (m_nAudioWnd >= 0) {
    m_pManager->SoundOff(m_nAudioWnd);
    m_nAudioWnd = -1;
  }
  m_pVideo->SetWndMark(w, CVideoWindow::kMarkSound, m_bAudio[static_cast<size_t>(w)]);
}

bool CPlaybackCommands::IsAudio(int i) const { return ValidWnd(i) && m_bAudio[static_cast<size_t>(i)]; }
bool CPlaybackCommands::IsRecord(int i) const {
  return ValidWnd(i) && m_bRecord[static_cast<size_t>(i)];
}

void CPlaybackCommands::ForgetEndedRecords() {
  for (int i = 0; i < kWindowCount; ++i)
    if (m_bRecord[static_cast<size_t>(i)] && m_pManager->GetState(i) == CPlayer::stateIdle)
      m_bRecord[static_cast<size_t>(i)] = false;
}

// ---------------------------------------------------------------------------------------------
// The context menu
// ---------------------------------------------------------------------------------------------

bool CPlaybackCommands::OnCommand(int id) {
  if (const LayoutEntry* entry = FindLayoutEntry(id)) {
    SetLayout(entry->count);
    return true;
  }
  const int w = FocusedWnd();
  const bool idle = m_pManager->GetState(w) == CPlayer::stateIdle;
  const bool lastPicture = m_pManager->GetEnded(w) == CPlayer::endPicture;
  switch (id) {
    case kCmdCloseWindow:
      if (!HasContent(w)) return true;
      m_pManager->Close(w);
      ResetWindow(w);
      return true;
    case kCmdCloseAllWindow:
      for (int i = 0; i < kWindowCount; ++i) {
        if (!HasContent(i)) continue;
        m_pManager->Close(i);
        ResetWindow(i);
      }
      return true;
    case kCmdAudio:
      if (!idle) ToggleAudio(w);
      return true;
    case kCmdLocalRecord:
      if (!idle) ToggleLocalRecord(w);
      return true;
    case kCmdSnapshot:
    case kCmdSnapshotPng:
      if (!idle || lastPicture)
        TakeSnapshot(w, id == kCmdSnapshotPng ? SnapshotFormat::Png : SnapshotFormat::Bmp);
      return true;
    case kCmdTimeLabel:
      SetTimeLabels(!m_bTimeLabels);
      return true;
    case kCmdGoToTime:
      if (m_goToTime) m_goToTime();
      return true;
    case kCmdSixSpliter1:
    case kCmdSixSpliter2:
      SetLayout(6);
      return true;
    case kCmdNineSpliter1:
    case kCmdNineSpliter2:
    case kCmdNineSpliter3:
      SetLayout(9);
      return true;
    case kCmdFullScreen:
      ToggleFullScreen();
      return true;
    default:
      return false;
  }
}

void CPlaybackCommands::ToggleAudio(int w) {
  const auto k = static_cast<size_t>(w);
  if (m_bAudio[k]) {
    if (!m_pManager->SoundOff(w)) return;
    m_nAudioWnd = -1;
  } else {
    if (!m_pManager->SoundOn(w)) return;
    m_nAudioWnd = w;
  }
  m_bAudio[k] = !m_bAudio[k];
  m_pVideo->SetWndMark(w, CVideoWindow::kMarkSound, m_bAudio[k]);
}

void CPlaybackCommands::ToggleLocalRecord(int w) {
  const auto k = static_cast<size_t>(w);
  if (m_bRecord[k]) {
    m_bRecord[k] = false;
    m_pManager->StopRecord(w);
    return;
  }
  std::string folder;
  if (!m_chooser || !m_chooser(&folder)) return;
  if (m_pManager->StartRecord(w, folder, 0)) m_bRecord[k] = true;
}

void CPlaybackCommands::TakeSnapshot(int w, SnapshotFormat format) {
  std::string folder;
  const FolderChooser& chooser = m_snapshotChooser ? m_snapshotChooser : m_chooser;
  if (!chooser || !chooser(&folder)) return;
  if (m_pManager->Snapshot(w, folder, format)) return;
  const QString text = m_texts("SnapshotFail");
  const QString caption = m_texts("Prompt");
  if (m_message) m_message(text, caption);
  else vendrel::ShowMessageText(m_pOwner, caption, text);
}

QMenu* CPlaybackCommands::MakeContextMenu(QWidget* parent) {
  ForgetEndedRecords();
  const int w = FocusedWnd();
  const bool idle = m_pManager->GetState(w) == CPlayer::stateIdle;
  const bool lastPicture = m_pManager->GetEnded(w) == CPlayer::endPicture;
  auto* menu = new QMenu(parent);
  auto add = [this](QMenu* to, int id, const char* key) {
    QAction* action = to->addAction(m_texts(key));
    action->setObjectName(QString::number(id));
    QObject::connect(action, &QAction::triggered, to, [this, id] { OnCommand(id); });
    return action;
  };
  menu->addAction(QStringLiteral("%1:%2").arg(m_texts("Window")).arg(w + 1))
      ->setObjectName(QStringLiteral("0"));
  menu->addSeparator();
  add(menu, kCmdCloseWindow, "CloseWindow")->setEnabled(HasContent(w));
  add(menu, kCmdCloseAllWindow, "CloseAllWindow");
  QAction* audio = add(menu, kCmdAudio, "Audio");
  audio->setEnabled(!idle);
  audio->setCheckable(true);
  audio->setChecked(m_bAudio[static_cast<size_t>(w)]);
  QAction* record = add(menu, kCmdLocalRecord, "LocalRecord");
  record->setEnabled(!idle);
  record->setCheckable(true);
  record->setChecked(m_bRecord[static_cast<size_t>(w)]);
  add(menu, kCmdSnapshot, "Snapshot")->setEnabled(!idle || lastPicture);
  add(menu, kCmdSnapshotPng, "SnapshotPng")->setEnabled(!idle || lastPicture);
  add(menu, kCmdGoToTime, "GoToTime");
  QAction* label = add(menu, kCmdTimeLabel, "TimeLabel");
  label->setCheckable(true);
  label->setChecked(m_bTimeLabels);
  QMenu* split = menu->addMenu(m_texts("WndSpliter"));
  const auto addLayout = [&](int id) {
    const LayoutEntry* entry = FindLayoutEntry(id);
    QAction* action = add(split, id, entry->key);
    action->setCheckable(true);
    action->setChecked(m_nLayout == entry->count);
  };
  addLayout(kCmdLayout1);
  addLayout(kCmdLayout4);
  QMenu* six = split->addMenu(m_texts("6WndSpliter"));
  add(six, kCmdSixSpliter1, "SixSpliter_1");
  add(six, kCmdSixSpliter2, "SixSpliter_2");
  QMenu* nine = split->addMenu(m_texts("9WndSpliter"));
  add(nine, kCmdNineSpliter1, "NineSpliter_1");
  add(nine, kCmdNineSpliter2, "NineSpliter_2");
  add(nine, kCmdNineSpliter3, "NineSpliter_3");
  for (int id : {kCmdLayout16, kCmdLayout25, kCmdLayout36}) addLayout(id);
  QAction* full = add(menu, kCmdFullScreen, "FullScreen");
  full->setCheckable(true);
  full->setChecked(m_pOwner && m_pOwner->window()->isFullScreen());
  return menu;
}

void CPlaybackCommands::ShowContextMenu(const QPoint& globalPos) {
  QMenu* menu = MakeContextMenu(m_pOwner);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(globalPos);
}

void CPlaybackCommands::ToggleDisplay() { m_pVideo->SetDisplaySwitch(!IsFullPane()); }

bool CPlaybackCommands::IsFullPane() const {
  short mode = -1;
  m_pVideo->GetDisplayState(&mode, nullptr);
  return mode == 1 || mode == 2;
}

void CPlaybackCommands::ToggleFullScreen() {
  if (!m_pOwner) return;
  QWidget* top = m_pOwner->window();
  top->setWindowState(top->windowState() ^ Qt::WindowFullScreen);
}

// ---------------------------------------------------------------------------------------------
// Status pass
// ---------------------------------------------------------------------------------------------

QString CPlaybackCommands::StatusText(int state, int ended) const {
  switch (state) {
    case CPlayer::stateIdle:
      if (ended == CPlayer::endPicture) return m_texts("WndEnded");
      if (ended == CPlayer::endNoPicture) return m_texts("NoPicture");
      return QString(11, QLatin1Char(' '));
    case CPlayer::statePaused: return m_texts("Pause") + QString(12, QLatin1Char(' '));
    case CPlayer::stateSingleFrame: return m_texts("SingleFrame") + QString(12, QLatin1Char(' '));
    default: return {};
  }
}

bool CPlaybackCommands::StatusPass() {
  ForgetEndedRecords();
  const int focused = FocusedWnd();
  bool busy = false;
  for (int i = 0; i < kWindowCount && !busy; ++i) {
    const CPlayer* player = m_pManager->Player(i);
    busy = m_pManager->GetState(i) != 0 || (player && !player->IsStopped());
  }
  for (int i = 0; i < m_nLayout && i < kWindowCount; ++i) {
    const int s = m_pManager->GetState(i);
    int p = -1;
    if (s == CPlayer::stateIdle) {
      p = 0;
    } else if (s == CPlayer::statePaused || s == CPlayer::stateSingleFrame) {
      m_pManager->PausedTick(i);
    } else {
      p = m_pManager->GetProgress(i);
      if (p >= 100 || p < 0) p = 0;
    }
    if (i == focused && p != -1 && m_progress) m_progress(i, p);
    m_pVideo->SetWndStatus(i, StatusText(s, s == CPlayer::stateIdle ? m_pManager->GetEnded(i) : 0));
    ShowTime(i);
  }
  return busy;
}
