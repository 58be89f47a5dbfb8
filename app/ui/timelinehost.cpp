// CTimelineHost: the timeline panel in the main window (see timelinehost.h).
#include "timelinehost.h"

#include <QDir>
#include <QFileDialog>
#include <QTreeWidget>

#include "catalog/coverage.h"
#include "catalog/listing.h"
#include "initlanguage.h"
#include "messagebox.h"
#include "playbackcommands.h"
#include "recordtree.h"
#include "timelinepanel.h"

namespace {

// The record tree's source of partitions and days, so that the panel shows what the tree does.
constexpr Source kTreeSource = Source::kRecordCalendar;

QString DayTitle(int disk, const QDate& day) {
  // The drive as the tree names it.
  return QStringLiteral("PhysicalDrive%1 — %2").arg(disk).arg(day.toString(Qt::ISODate));
}

}  // namespace

CTimelineHost::CTimelineHost(CPlaybackCommands* playback, QTreeWidget* tree, QWidget* parent)
    : QObject(parent), m_pPlayback(playback), m_pPanel(new CTimelinePanel(parent)) {
  m_chooser = [parent](const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, CInitLanguage::Instance()->GetString(QStringLiteral("SaveTimeline")),
                                        suggested, QStringLiteral("PNG (*.png)"));
  };
  connect(m_pPanel, &CTimelinePanel::channelMomentClicked, this,
          [this](int channel, qint64 seconds) { PlayChannelAt(channel, seconds); });
  connect(m_pPanel, &CTimelinePanel::momentClicked, this, [this](qint64 seconds) {
    if (m_day.isValid()) m_pPlayback->PositionAllAt(QDateTime(m_day, QTime(0, 0)).addSecs(seconds));
  });
  if (tree) {
    connect(tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
      if (item) FollowTreePath(CRecordSearchDlg::RootedPath(item));
    });
  }
}

bool CTimelineHost::ShowDay(int disk, const QDate& day) {
  if (disk == m_nDisk && day == m_day) return false;
  m_nDisk = disk;
  m_day = day;
  const DayCoverage coverage =
      day_coverage(list_partitions(disk, kTreeSource), CalendarDay{day.year(), day.month(), day.day()}, kTreeSource);
  m_pPanel->SetDay(coverage, DayTitle(disk, day));
  if (m_relayout) m_relayout();
  return true;
}

void CTimelineHost::FollowTreePath(const std::string& rooted) {
  TreePath p;
  std::string error;
  if (!parse_tree_path("/mnt/" + rooted, p, error) || p.level < Level::kDay) return;
  ShowDay(p.partition.disk, QDate(p.year, p.month, p.day));
}

void CTimelineHost::Tick() {
  if (m_pPlayback->GetFocusedState() == 0) {  // idle: keep the day, hide the cursor
    m_pPanel->SetCursorTime(-1);
    return;
  }
  std::string path;
  const QDateTime moment = m_pPlayback->FocusedMoment();
  TreePath p;
  std::string error;
  if (m_pPlayback->FocusedPath(&path) && parse_tree_path(path, p, error) && p.level == Level::kRecording)
    ShowDay(p.partition.disk, moment.date());
  m_pPanel->SetCursorTime(moment.date() == m_day ? QTime(0, 0).secsTo(moment.time()) : -1);
}

int CTimelineHost::PlayChannelAt(int channel, qint64 seconds) {
  for (const CoverageSpan& s : m_pPanel->Day().spans) {
    if (s.channel != channel || seconds < s.start || seconds >= s.end) continue;
    for (const CoveredRecording& r : s.recordings) {
      if (seconds >= r.start && seconds < r.end) return m_pPlayback->PlayFileAt(r.path, (seconds - r.start) * 1000);
    }
  }
  return 0;
}

bool CTimelineHost::SavePicture() {
  if (!m_chooser) return false;
  const QString suggested = QDir::home().filePath(
      QStringLiteral("timeline-ide%1-%2.png").arg(QChar('a' + std::max(m_nDisk, 0))).arg(m_day.toString(Qt::ISODate)));
  const QString path = m_chooser(suggested);
  if (path.isEmpty()) return false;
  if (m_pPanel->SavePicture(path)) return true;
  vendrel::ShowMessage(m_pPanel->window(), QStringLiteral("TimelineSaveFail"));
  return false;
}
