// The grid's own texts, read from the "String" section of a language file.
//
// A language file is a profile file: "[Section]" lines and "key = value" lines. Sections and
// keys are matched without regard to case and the first match wins; values are trimmed and
// cut to 299 characters; lines starting with ';' are comments. The file is read as UTF-8. A missing file or key is not
// an error: a lookup then falls back to the part of the key after its first full stop, or to
// the key itself, so the grid always has a text to show.
#pragma once

#include <QHash>
#include <QString>

namespace lumenpane {

class LanguageTexts {
 public:
  // Replaces the texts by those of the file at path. Returns false (and keeps no texts)
  // when the file cannot be read; a file without a "String" section gives no texts but true.
  bool load(const QString& path);

  // The text of key, or its fallback when the file has no non-empty text for it.
  QString text(const QString& key) const;

 private:
  QHash<QString, QString> m_texts;  // lower-cased key -> text
};

}  // namespace lumenpane
