#include "replayerview.h"

#include <QLabel>
#include <QMessageBox>
#include <QPainter>

#include "appdirs.h"
#include "playbackcommands.h"
#include "player.h"
#include "replayerslider.h"
#include "xskinbutton.h"

namespace {
CLoadBmp::TextLookup OrKeys(CLoadBmp::TextLookup texts) {
  if (texts) return texts;
  return [](const char* key) { return QString::fromUtf8(key); };
}
}  // namespace

CReplayerView::CReplayerView(CPlaybackCommands* commands, CLoadBmp::TextLookup texts,
                             QWidget* parent)
    : QWidget(parent),
      m_pCommands(commands),
      m_texts(OrKeys(std::move(texts))),
      m_skin(m_texts, [this](const QString& text) {
        if (m_message) m_message(text);
        else QMessageBox::warning(this, QString(), text);
      }) {
  setObjectName(QStringLiteral("131"));
}

CReplayerView::~CReplayerView() = default;

bool CReplayerView::OnInitDialog() {
  return OnInitDialog(QString::fromStdString(vendrel::ResourceDir()));
}

bool CReplayerView::OnInitDialog(const QString& resourceDir) {
  const bool loaded = m_skin.LoadSkin(this, resourceDir, QStringLiteral("Skin/"),
                                      QStringLiteral("replayer_config.ini"), true);
  static constexpr void (CReplayerView::*kCommands[])() = {
      &CReplayerView::OnPlay,   &CReplayerView::OnPause, &CReplayerView::OnStop,
      &CReplayerView::OnSlower, &CReplayerView::OnFast,  &CReplayerView::OnFront,
      &CReplayerView::OnNext};
  for (int i = 0; i < CReplayerBackBmp::kButtonCount; ++i)
    connect(m_skin.Button(i), &CxSkinButton::clicked, this, kCommands[i]);
  // Holding Front or Next steps on repeatedly, at most at a usual picture rate (25 a second).
  for (int i : {5, 6}) {
    m_skin.Button(i)->setAutoRepeat(true);
    m_skin.Button(i)->setAutoRepeatDelay(300);
    m_skin.Button(i)->setAutoRepeatInterval(40);
  }

  m_pSlider = new CReplayerSlider(this);
  m_pSlider->setObjectName(QString::number(kSliderId));
  m_pSlider->SetRange(0, 100, false);
  m_pSlider->SetBitmapChannel(m_skin.PicturePath("MainSettings", "Slider_Slider_Up"),
                              m_skin.PicturePath("MainSettings", "Slider_Slider_Over"));
  m_pSlider->SetBitmapThumb(m_skin.PicturePath("MainSettings", "Slider_Thumb_Up"),
                            m_skin.PicturePath("MainSettings", "Slider_Thumb_Over"));
  m_pSlider->show();
  // A click or a drag positions the focused window when the button is released; while
  // dragging only the thumb moves.
  connect(m_pSlider, &CReplayerSlider::sliderMoved, this,
          [this](int, int pos) { m_pCommands->SeekFocusedPercent(pos); });
  m_pTime = new QLabel(this);
  m_pTime->setObjectName(QStringLiteral("time"));
  QFont small = m_pTime->font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  m_pTime->setFont(small);
  QPalette palette = m_pTime->palette();
  palette.setColor(QPalette::WindowText, QColor(235, 240, 245));
  m_pTime->setPalette(palette);
  m_pTime->show();
  ResetSpeedLevels();
  LayoutChildren();
  return loaded;
}

void CReplayerView::SetProgress(int, int percent) {
  if (m_pSlider && !m_pSlider->IsDragging()) m_pSlider->SetPos(percent);
}

void CReplayerView::SetTimeText(const QString& text) {
  if (!m_pTime) return;
  m_pTime->setText(text);
  m_pTime->setAccessibleName(text);
}

QString CReplayerView::TimeText() const { return m_pTime ? m_pTime->text() : QString(); }

// ---------------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------------

void CReplayerView::OnPlay() {
  if (m_nSlowLevel != 0 || m_nFastLevel != 0) {
    m_pCommands->FastAll(0);
    ResetSpeedLevels();
    return;
  }
  switch (m_pCommands->GetFocusedState()) {
    case CPlayer::statePaused: m_pCommands->PauseAll(); break;
    case CPlayer::stateSingleFrame: m_pCommands->ResumeAll(); break;
    case CPlayer::stateIdle: m_pCommands->PlayFile(); break;
    default: break;
  }
}

void CReplayerView::OnPause() { m_pCommands->PauseAll(); }

void CReplayerView::OnStop() {
  m_pCommands->StopAll();
  ResetSpeedLevels();
}

void CReplayerView::OnSlower() {
  if (m_nSlowLevel >= kMaxSpeedLevel) return;
  ++m_nSlowLevel;
  if (m_pCommands->SlowAll(m_nSlowLevel) > 0) {
    m_nFastLevel = 0;
    UpdateSpeedTips();
  }
}

void CReplayerView::OnFast() {
  if (m_nFastLevel >= kMaxSpeedLevel) return;
  ++m_nFastLevel;
  if (m_pCommands->FastAll(m_nFastLevel) > 0) {
    m_nSlowLevel = 0;
    UpdateSpeedTips();
  }
}

void CReplayerView::OnFront() {
  ResetSpeedLevels();
  m_pCommands->StepFrontAll();
}

void CReplayerView::OnNext() {
  ResetSpeedLevels();
  m_pCommands->StepNextAll();
}

void CReplayerView::ResetSpeedLevels() {
  m_nSlowLevel = 0;
  m_nFastLevel = 0;
  UpdateSpeedTips();
}

void CReplayerView::UpdateSpeedTips() {
  auto tip = [this](const char* key, int level) {
    return level != 0 ? m_texts(key) + QString::number(level) : m_texts(key);
  };
  if (CxSkinButton* slower = Button(CReplayerBackBmp::kSlower)) {
    slower->SetToolTipText(tip("Slow", m_nSlowLevel));
    slower->setEnabled(m_nSlowLevel < kMaxSpeedLevel);
  }
  if (CxSkinButton* fast = Button(CReplayerBackBmp::kFast)) {
    fast->SetToolTipText(tip("Fast", m_nFastLevel));
    fast->setEnabled(m_nFastLevel < kMaxSpeedLevel);
  }
}

// ---------------------------------------------------------------------------------------------
// Layout and painting
// ---------------------------------------------------------------------------------------------

void CReplayerView::LayoutChildren() {
  const int w = width();
  const int x0 = w / 2 + 15;
  const int gap = (w / 2 - 226) / 6;
  if (m_pSlider) m_pSlider->setGeometry(QRect(QPoint(23, 8), QPoint(x0 - 23 - 1, 21 - 1)));
  if (m_pTime) m_pTime->setGeometry(QRect(QPoint(23, 21), QPoint(x0 - 23 - 1, height() - 1)));
  for (int i = 0; i < CReplayerBackBmp::kButtonCount; ++i)
    if (CxSkinButton* button = Button(i)) button->setGeometry(x0 + i * (28 + gap), 5, 28, 28);
}

void CReplayerView::resizeEvent(QResizeEvent*) { LayoutChildren(); }

void CReplayerView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QImage& back = m_skin.Background();
  if (back.isNull()) {
    painter.fillRect(rect(), palette().window());
    return;
  }
  painter.drawImage(0, 0, back);
  const int tail = std::min(4, back.width());
  const QRect source(back.width() - tail, 0, tail, back.height());
  for (int x = back.width(); x < width(); x += tail) painter.drawImage(QPoint(x, 0), back, source);
}
