// CInitLanguage: the language of the user interface.
//
// Every text the user sees is looked up by a key ("Login", "Cancel", "UserNotNull", ...) in a
// language file: the folder "Language/" of the resources holds one profile file per language,
// named after the language ("English.lang", "Deutsch.lang"), with the texts in section
// "String" and the language's number in section "Info", key "LanguageID" (100 when missing).
// The user picks the language in Config.ini, section "themes", key "Solution" (empty or
// missing: English). The choice is read once at start-up; a missing file or text only means
// the key stands in for the text (GetString).
//
// One object serves the process (Instance). Everything here belongs to the user-interface
// thread except GetString, which any thread may call.
#pragma once

#include <QLocale>
#include <QString>

#include <memory>
#include <mutex>
#include <string>

class QWidget;

namespace profile {
class Document;
}

class QTranslator;

class CInitLanguage {
 public:
  // The language number of a file without "LanguageID", and English's.
  static constexpr int kDefaultLanguageId = 100;

  // The process-wide object, made on first use.
  static CInitLanguage* Instance();
  // Deletes the process-wide object; the next Instance makes a new one.
  static void DeleteInstance();

  CInitLanguage();
  virtual ~CInitLanguage();

  // root: the folder holding "Language/" (with or without a trailing '/'). Returns 1.
  int SetRootPath(const std::string& root);

  // The Config.ini whose "themes"/"Solution" LoadLanguage(0) reads; vendrel::ConfigFilePath()
  // unless set.
  void SetConfigFile(const std::string& path);

  // Chooses the language: for id 0 the one named by "Solution" in the Config.ini (empty,
  // missing, or a name holding '/': English), for any other id the language file whose
  // "LanguageID" is id (FindLanguageById; none found: English). Sets the language file path
  // to the language folder + name + ".lang"; the file itself is read by the first GetString.
  // Returns 1.
  int LoadLanguage(int id);

  // Looks through the "*.lang" files of the language folder, in name order, for the first
  // whose "LanguageID" (section "Info", default 100) is id. Found: *name = the file name up
  // to its first ".lang", *idOut = id. Otherwise *name = "English", *idOut = 100. The folder
  // is listed by its path; the current directory is never changed. Returns 1.
  int FindLanguageById(int id, std::string* name, int* idOut) const;

  // The language file: language folder + the chosen file name, or language folder +
  // "English.lang" before LoadLanguage.
  std::string GetLanguageFilePath() const;

  // The chosen language's name ("English" before LoadLanguage) and number.
  std::string GetLanguageName() const { return m_strLanguageName; }
  int GetLanguageId() const { return m_nLanguageId; }

  // The text of key in the chosen language file (at most 299 bytes of UTF-8). Without a
  // loaded language, or when the file has no text or an empty one for key: the part of key
  // after its first full stop ("PlayBack.LoadImageFail" -> "LoadImageFail"), else key.
  QString GetString(const QString& key) const;

  // Translates window and its direct children, taking each one's current text as the key:
  //   - the window title, unless it is empty;
  //   - the captions of direct child widgets: the text of a QLabel or a QAbstractButton
  //     (push buttons, check boxes, radio buttons) and the title of a QGroupBox, also when
  //     empty (an empty key gives an empty text).
  // Left alone: line edits (QLineEdit), text edits (QTextEdit, QPlainTextEdit) and the video
  // grid (lumenpane::CVideoWindow), whose texts are the user's data or their own; any other
  // widget has no caption to translate. Grandchildren are not visited.
  void Translate(QWidget* window) const;

  // The chosen language's locale (its text "Locale", e.g. "de_DE"): numbers are written in it.
  // The C locale when the file names none.
  QLocale Locale() const;

  // Makes Qt's own dialogs (file and folder choosers, message box buttons) speak the chosen
  // language: installs Qt's translations for Locale() from Qt's translations folder into the
  // application, replacing ones installed earlier. Returns 1 when they were found and
  // installed, 0 otherwise (Qt then speaks English). The translations go with this object.
  int InstallQtTranslations();

 private:
  std::string m_strRootPath;                      // the resources folder, ending in '/'
  std::string m_strLanguageDir;                   // m_strRootPath + "Language/"
  std::string m_strConfigFile;                    // the Config.ini naming the language
  std::string m_strLanguageName = "English";      // chosen language
  int m_nLanguageId = kDefaultLanguageId;         // its number
  std::string m_strLanguageFile;                  // chosen file's path; empty before LoadLanguage
  std::string m_strLanguageFileName;              // chosen file's name ("English.lang")

  std::unique_ptr<QTranslator> m_qtTexts;         // Qt's own texts, while installed

  mutable std::mutex m_mutex;                          // guards the two below
  mutable std::unique_ptr<profile::Document> m_texts;  // m_strTextsPath read, on first use
  mutable std::string m_strTextsPath;                  // the file m_texts came from
};
