#include "barbackground.h"

#include <QMessageBox>
#include <QPixmap>
#include <QStringList>
#include <QWidget>

#include "xskinbutton.h"

std::array<int, 4> ParseInts(const QString& text) {
  std::array<int, 4> values{};
  const QStringList parts = text.split(QLatin1Char(','));
  for (int i = 0; i < 4 && i < parts.size(); ++i) values[static_cast<size_t>(i)] = parts[i].trimmed().toInt();
  return values;
}

CLoadBmp::CLoadBmp(TextLookup texts, MessageBox message)
    : m_texts(std::move(texts)), m_message(std::move(message)) {
  if (!m_texts) m_texts = [](const char* key) { return QString::fromUtf8(key); };
}

CLoadBmp::~CLoadBmp() = default;

QString CLoadBmp::Value(const QString& section, const QString& key) const {
  if (!m_pSkin) return {};
  // A value with commas reads as a list; the skin file means it as one text.
  const QVariant value = m_pSkin->value(section + QLatin1Char('/') + key);
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(QLatin1Char(','));
  return value.toString();
}

QString CLoadBmp::PicturePath(const QString& section, const QString& key) const {
  const QString name = Value(section, key).trimmed();
  return name.isEmpty() ? QString() : m_strDir + name;
}

QImage CLoadBmp::LoadPicture(const char* key) {
  if (m_bFailed) return {};
  QImage image(PicturePath(QStringLiteral("MainSettings"), QString::fromLatin1(key)));
  if (image.isNull()) {
    m_bFailed = true;
    const QString text = m_texts("PlayBack.LoadImageFail");
    if (m_message) m_message(text);
    else QMessageBox::warning(m_pParent, QString(), text);
  }
  return image;
}

bool CLoadBmp::LoadSkin(QWidget* parent, const QString& dir, const QString& folder,
                        const QString& fileName, bool loadBackground) {
  m_pParent = parent;
  m_strDir = dir + folder;
  if (!m_strDir.endsWith(QLatin1Char('/'))) m_strDir += QLatin1Char('/');
  m_pSkin = std::make_unique<QSettings>(m_strDir + fileName, QSettings::IniFormat);
  m_bFailed = false;
  m_up = LoadPicture("BackImage_Up");
  m_over = LoadPicture("BackImage_Over");
  m_down = LoadPicture("BackImage_Down");
  m_disable = LoadPicture("BackImage_Disable");
  if (loadBackground) m_log = LoadPicture("BackImage_Log");
  const auto size = ParseInts(Value(QStringLiteral("MainSettings"), QStringLiteral("MainWindow_Size")));
  if (size[0] > 0 && size[1] > 0) parent->resize(size[0], size[1]);
  LoadButtons();
  return !m_bFailed;
}

void CLoadBmp::LoadButton(const QString& name, const QString& section, CxSkinButton* button,
                          int id) {
  QRect rect;
  if (Value(section, name + QStringLiteral("_IsVisible")).trimmed().toInt() != 0) {
    const auto r = ParseInts(Value(section, name + QStringLiteral("_Position")));
    rect = QRect(QPoint(r[0], r[1]), QPoint(r[2] - 1, r[3] - 1));  // right and bottom exclusive
  }
  auto cut = [&rect](const QImage& sheet) {
    return sheet.isNull() || rect.isEmpty() ? QPixmap() : QPixmap::fromImage(sheet.copy(rect));
  };
  button->setParent(m_pParent);
  button->setObjectName(QString::number(id));
  button->SetSkin(cut(m_up), cut(m_down), cut(m_over), cut(m_disable), 0, 0, true);
  button->setGeometry(rect);
  button->show();
  const QString tip = Value(section, name + QStringLiteral("_TipText")).trimmed();
  if (!tip.isEmpty()) button->SetToolTipText(m_texts(tip.toUtf8().constData()));
}

CReplayerBackBmp::CReplayerBackBmp(TextLookup texts, MessageBox message)
    : CLoadBmp(std::move(texts), std::move(message)) {}

CxSkinButton* CReplayerBackBmp::Button(int i) const {
  return i >= 0 && i < kButtonCount ? m_buttons[static_cast<size_t>(i)] : nullptr;
}

void CReplayerBackBmp::LoadButtons() {
  for (int i = 0; i < kButtonCount; ++i) {
    auto& button = m_buttons[static_cast<size_t>(i)];
    if (!button) button = new CxSkinButton(m_pParent);
    LoadButton(QString::fromLatin1(kNames[i]), QStringLiteral("MainButtons"), button,
               kFirstId + i);
  }
}
