// CPlaybackCommands in time: seeks, jumps, going to a moment, and the time shown in the
// windows and beside the bar's slider (see playbackcommands.h).
#include "playbackcommands.h"

#include <lumenpane/videopane.h>
#include <lumenpane/videowindow.h>

#include <algorithm>
#include <climits>

#include "player.h"
#include "playermanager.h"
#include "recordingtime.h"
#include "recordsearch.h"

namespace {

// A seek far past any recording's end: the last picture.
constexpr int64_t kEndMs = int64_t{1} << 40;

// Signed engine speed steps of a player's speed level (slow k: -k, fast k: +k).
int SpeedSteps(int level) {
  return level <= CPlayer::speedSlow3 ? -level : level - CPlayer::speedSlow3;
}

// The recordings of the disk of `like` that may hold `moment`: its day and the day before (a
// recording may run past midnight), every partition.
std::vector<std::string> ListFromDisk(const std::string& like, int channel,
                                      const QDateTime& moment) {
  RecordingName name;
  if (!ParseRecordingPath(like, &name)) return {};
  std::vector<std::string> out;
  for (const QDate& day : {moment.date(), moment.date().addDays(-1)}) {
    const auto found = recordsearch::ChannelRecordings(
        name.disk, day.toString(QStringLiteral("yyyy-MM-dd")).toStdString(), channel);
    out.insert(out.end(), found.begin(), found.end());
  }
  return out;
}

}  // namespace

int CPlaybackCommands::SeekWindow(int i, int64_t ms) {
  CPlayer* player = m_pManager->Player(i);
  if (!player || player->GetState() == CPlayer::stateIdle) return 0;
  return player->Seek(std::max<int64_t>(ms, 0));
}

int CPlaybackCommands::SeekFocusedPercent(int percent) {
  const int w = FocusedWnd();
  CPlayer* player = m_pManager->Player(w);
  if (!player) return 0;
  const int64_t total = int64_t{player->GetDuration()} * 1000;
  return SeekWindow(w, total * std::clamp(percent, 0, 100) / 100);
}

int CPlaybackCommands::JumpAll(int64_t deltaMs) {
  int moved = 0;
  ForBusy([&](int i) {
    const int64_t at = m_pManager->Player(i)->GetPictureTime();
    if (at >= 0) moved += SeekWindow(i, at + deltaMs) ? 1 : 0;
  });
  return moved;
}

int CPlaybackCommands::SeekAllToEdge(bool end) {
  int moved = 0;
  ForBusy([&](int i) { moved += SeekWindow(i, end ? kEndMs : 0) ? 1 : 0; });
  return moved;
}

int CPlaybackCommands::PositionAllAt(const QDateTime& moment) {
  const RecordingLister lister = m_lister ? m_lister : RecordingLister(ListFromDisk);
  bool anyBusy = false;
  ForBusy([&](int) { anyBusy = true; });
  if (!anyBusy) return OpenChannelsAt(moment, lister);
  int shown = 0;
  ForBusy([&](int i) {
    CPlayer* player = m_pManager->Player(i);
    const std::string current = player->GetPath();
    RecordingName name;
    if (!ParseRecordingPath(current, &name)) return;
    int64_t offset = OffsetInRecording(name, moment);
    if (offset >= 0) {
      shown += SeekWindow(i, offset) ? 1 : 0;
      return;
    }
    const std::string other = RecordingAt(lister(current, name.channel, moment), name.channel,
                                          moment, &offset);
    CloseIfBusy(i);
    if (other.empty()) {
      ResetWindow(i);
      m_strNoRecording[static_cast<size_t>(i)] =
          m_texts("NoRecordingAt").arg(moment.toString(QStringLiteral("HH:mm:ss")));
      ShowTime(i);
      return;
    }
    shown += m_pManager->Open(i, other, offset);
  });
  return shown;
}

int CPlaybackCommands::OpenChannelsAt(const QDateTime& moment, const RecordingLister& lister) {
  if (m_strLastPath.empty()) return 0;
  SyncPlayTable table;
  int n = 0;
  for (int channel = 1; channel <= kWindowCount && n < static_cast<int>(table.size());
       ++channel) {
    int64_t offset = 0;
    const std::string path =
        RecordingAt(lister(m_strLastPath, channel, moment), channel, moment, &offset);
    if (path.empty()) continue;
    table[static_cast<size_t>(n)] = path;
    m_nOpenAt[static_cast<size_t>(n)] = offset;
    ++n;
  }
  if (n == 0) return 0;
  SetLayoutForCount(n);
  for (int i = 0; i < n; ++i)
    m_pManager->Open(i, table[static_cast<size_t>(i)], m_nOpenAt[static_cast<size_t>(i)]);
  return n;
}

QDateTime CPlaybackCommands::FocusedMoment() {
  const int w = FocusedWnd();
  CPlayer* player = m_pManager->Player(w);
  RecordingName name;
  if (player && player->GetState() != CPlayer::stateIdle &&
      ParseRecordingPath(player->GetPath(), &name))
    return RecordingStart(name).addMSecs(std::max<int64_t>(player->GetPictureTime(), 0));
  return QDateTime::currentDateTime();
}

bool CPlaybackCommands::FocusedPath(std::string* path) const {
  const CPlayer* player = m_pManager->Player(FocusedWnd());
  if (!player || player->GetState() == CPlayer::stateIdle) return false;
  *path = player->GetPath();
  return true;
}

QString CPlaybackCommands::WindowLabel(int i) {
  CPlayer* player = m_pManager->Player(i);
  RecordingName name;
  if (!player || player->GetState() == CPlayer::stateIdle ||
      !ParseRecordingPath(player->GetPath(), &name))
    return {};
  return WindowTimeText(name, player->GetPictureTime(), SpeedSteps(player->GetPlayStatus()));
}

QString CPlaybackCommands::WindowDescription(int i) {
  const QString label = WindowLabel(i);
  if (!label.isEmpty()) return label;
  if (ValidWnd(i) && !m_strNoRecording[static_cast<size_t>(i)].isEmpty())
    return m_strNoRecording[static_cast<size_t>(i)];
  return m_texts("Idle");
}

void CPlaybackCommands::SetTimeLabels(bool on) {
  m_bTimeLabels = on;
  for (int i = 0; i < m_nLayout && i < kWindowCount; ++i) ShowTime(i);
}

void CPlaybackCommands::ShowTime(int i) {
  lumenpane::CVideoPane* pane = m_pVideo->GetWndHandle(i);
  if (!pane) return;
  const auto k = static_cast<size_t>(i);
  if (m_pManager->GetState(i) != CPlayer::stateIdle) m_strNoRecording[k].clear();
  const QString label = WindowLabel(i);
  pane->setTimeLabel(m_bTimeLabels ? (label.isEmpty() ? m_strNoRecording[k] : label) : QString());
  pane->setAccessibleDescription(WindowDescription(i));
  if (i == FocusedWnd() && m_time) {
    CPlayer* player = m_pManager->Player(i);
    RecordingName name;
    m_time(!label.isEmpty() && ParseRecordingPath(player->GetPath(), &name)
               ? BarTimeText(name, player->GetPictureTime())
               : QString());
  }
}
