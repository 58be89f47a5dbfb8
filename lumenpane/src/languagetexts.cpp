// Reading the "String" section of a language file for the grid's own texts.
#include "languagetexts.h"

#include <QFile>
#include <QStringList>

namespace lumenpane {
namespace {

constexpr qint64 kMaxFileBytes = 4 << 20;  // a language file is small; never read more
constexpr int kMaxTextLength = 299;        // longer texts are cut, as everywhere else

}  // namespace

bool LanguageTexts::load(const QString& path) {
  m_texts.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QString content = QString::fromUtf8(file.read(kMaxFileBytes));
  if (content.startsWith(QChar(0xFEFF))) content.remove(0, 1);  // a byte-order mark is no text
  const QStringList lines = content.split(QLatin1Char('\n'));
  bool inStrings = false;
  for (QString line : lines) {
    line = line.trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      const qsizetype close = line.indexOf(QLatin1Char(']'));
      inStrings = close > 0 && line.mid(1, close - 1).trimmed().compare(u"String", Qt::CaseInsensitive) == 0;
      continue;
    }
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (!inStrings || line.startsWith(QLatin1Char(';')) || eq <= 0) continue;
    const QString key = line.left(eq).trimmed().toLower();
    if (!m_texts.contains(key)) m_texts.insert(key, line.mid(eq + 1).trimmed().left(kMaxTextLength));
  }
  return true;
}

QString LanguageTexts::text(const QString& key) const {
  const QString found = m_texts.value(key.toLower());
  if (!found.isEmpty()) return found;
  const qsizetype dot = key.indexOf(QLatin1Char('.'));
  return dot >= 0 ? key.mid(dot + 1) : key;
}

}  // namespace lumenpane
