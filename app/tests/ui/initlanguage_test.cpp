// CInitLanguage: choosing the language, the text fallbacks and what Translate touches.
#include "initlanguage.h"

#include "appdirs.h"
#include "lumenpane/videowindow.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>

#include <gtest/gtest.h>

namespace {

void Put(const QString& path, const QByteArray& text) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

// A resources folder with three languages and a Config.ini of its own.
class InitLanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    QDir(m_dir.path()).mkpath("Language");
    Put(m_dir.filePath("Language/English.lang"),
        "[Info]\r\nLanguageID=100\r\n[String]\r\nLogin=Log in\r\nWindow=Window\r\n");
    Put(m_dir.filePath("Language/Deutsch.lang"),
        "[Info]\nLanguageID=101\n[String]\nLogin=Anmelden\nCancel=Abbrechen\nUsername=Benutzername\n");
    Put(m_dir.filePath("Language/Zulu.lang.lang"), "[Info]\nLanguageID=102\n");
    m_language.SetRootPath(m_dir.path().toStdString());
    m_language.SetConfigFile(m_dir.filePath("Config.ini").toStdString());
  }
  std::string Dir() const { return m_dir.path().toStdString() + "/"; }

  QTemporaryDir m_dir;
  CInitLanguage m_language;
};

TEST_F(InitLanguageTest, SolutionInConfigIniChoosesTheLanguage) {
  struct Case {
    QByteArray config;
    std::string name;
  } cases[] = {
      {"[themes]\nSolution=Deutsch\n", "Deutsch"},
      {"[THEMES]\nsolution = Deutsch \n", "Deutsch"},
      {"[themes]\nSolution=\n", "English"},
      {"", "English"},
      {"[themes]\nSolution=../../elsewhere\n", "English"},  // a name, never a path
  };
  for (const Case& c : cases) {
    Put(m_dir.filePath("Config.ini"), c.config);
    EXPECT_EQ(m_language.LoadLanguage(0), 1);
    EXPECT_EQ(m_language.GetLanguageName(), c.name) << c.config.constData();
    EXPECT_EQ(m_language.GetLanguageFilePath(), Dir() + "Language/" + c.name + ".lang");
  }
  QFile::remove(m_dir.filePath("Config.ini"));  // no Config.ini at all: English
  m_language.LoadLanguage(0);
  EXPECT_EQ(m_language.GetLanguageName(), "English");
  EXPECT_EQ(m_language.GetString("Login"), "Log in");
}

TEST_F(InitLanguageTest, LanguageById) {
  const QString before = QDir::currentPath();
  struct Case {
    int id;
    std::string name;
    int idOut;
  } cases[] = {{101, "Deutsch", 101}, {102, "Zulu", 102}, {100, "English", 100}, {555, "English", 100}};
  for (const Case& c : cases) {
    std::string name;
    int id = -1;
    EXPECT_EQ(m_language.FindLanguageById(c.id, &name, &id), 1);
    EXPECT_EQ(name, c.name) << c.id;
    EXPECT_EQ(id, c.idOut) << c.id;
  }
  m_language.LoadLanguage(101);
  EXPECT_EQ(m_language.GetString("Cancel"), "Abbrechen");
  EXPECT_EQ(QDir::currentPath(), before);  // the folder is listed by path
}

TEST_F(InitLanguageTest, GetStringFallbacks) {
  // Before any language is loaded, and with a language whose file is missing.
  EXPECT_EQ(m_language.GetLanguageFilePath(), Dir() + "Language/English.lang");
  EXPECT_EQ(m_language.GetString("Login"), "Login");
  Put(m_dir.filePath("Config.ini"), "[themes]\nSolution=Klingon\n");
  m_language.LoadLanguage(0);
  struct Case {
    const char* key;
    const char* expected;
  } cases[] = {
      {"PlayBack.LoadImageFail", "LoadImageFail"},
      {"a.b.c", "b.c"},
      {"Cancel", "Cancel"},
  };
  for (const Case& c : cases) EXPECT_EQ(m_language.GetString(c.key), c.expected) << c.key;
  Put(m_dir.filePath("Config.ini"), "[themes]\nSolution=Deutsch\n");
  m_language.LoadLanguage(0);
  EXPECT_EQ(m_language.GetString("login"), "Anmelden");
  for (const Case& c : cases)
    EXPECT_EQ(m_language.GetString(c.key), c.key == std::string("Cancel") ? "Abbrechen" : c.expected);
}

TEST_F(InitLanguageTest, TranslateChangesCaptionsAndLeavesEditsAndTheGrid) {
  Put(m_dir.filePath("Config.ini"), "[themes]\nSolution=Deutsch\n");
  m_language.LoadLanguage(0);
  QDialog dialog;
  dialog.setWindowTitle("Login");
  auto* label = new QLabel("Username", &dialog);
  auto* button = new QPushButton("Cancel", &dialog);
  auto* check = new QCheckBox("Missing.Key", &dialog);
  auto* edit = new QLineEdit("Login", &dialog);
  auto* text = new QTextEdit("Login", &dialog);
  auto* grid = new lumenpane::CVideoWindow(&dialog);
  grid->setWindowTitle("Login");
  auto* holder = new QWidget(&dialog);
  auto* grandchild = new QLabel("Login", holder);
  m_language.Translate(&dialog);
  EXPECT_EQ(dialog.windowTitle(), "Anmelden");
  EXPECT_EQ(label->text(), "Benutzername");
  EXPECT_EQ(button->text(), "Abbrechen");
  EXPECT_EQ(check->text(), "Key");
  EXPECT_EQ(edit->text(), "Login");
  EXPECT_EQ(text->toPlainText(), "Login");
  EXPECT_EQ(grid->windowTitle(), "Login");
  EXPECT_EQ(grandchild->text(), "Login");  // only direct children

  QDialog untitled;  // an empty caption stays empty
  m_language.Translate(&untitled);
  EXPECT_TRUE(untitled.windowTitle().isEmpty());
}

TEST(InitLanguage, FirstTimeRunOnlyOnce) {
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  EXPECT_EQ(vendrel::IsFirstTimeRun(), 1);
  EXPECT_EQ(vendrel::IsFirstTimeRun(), 0);
  EXPECT_TRUE(QFile::exists(settings.filePath("TAVO.conf")));
}

TEST(InitLanguage, InstanceIsOneObjectUntilDeleted) {
  CInitLanguage* first = CInitLanguage::Instance();
  EXPECT_EQ(CInitLanguage::Instance(), first);
  CInitLanguage::DeleteInstance();
  EXPECT_NE(CInitLanguage::Instance(), nullptr);
  CInitLanguage::DeleteInstance();
}

}  // namespace

namespace {

// Qt's own dialogs speak the chosen language: its locale picks Qt's translations, which go
// again with the language object.
TEST(InitLanguageQt, QtsOwnTextsFollowTheChosenLanguage) {
  const QString cancel = QStringLiteral("Cancel");
  {
    CInitLanguage language;
    language.SetRootPath(VENDREL_TEST_RESOURCES);
    language.LoadLanguage(101);
    EXPECT_EQ(language.Locale().language(), QLocale::German);
    EXPECT_EQ(language.Locale().toString(2951), "2.951");
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm"))
      GTEST_SKIP() << "Qt's translations are not installed (qt6-translations-l10n)";
    ASSERT_EQ(language.InstallQtTranslations(), 1);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
  }
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel) << "removed again";
  CInitLanguage english;
  english.SetRootPath(VENDREL_TEST_RESOURCES);
  english.LoadLanguage(100);
  EXPECT_EQ(english.Locale().toString(2951), "2,951");
}

}  // namespace
