// CVendrelApp: the start-up's order -- the main window only after an accepted login.
#include "vendrelapp.h"

#include "appdirs.h"
#include "initlanguage.h"

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class ScriptedApp : public CVendrelApp {
 public:
  explicit ScriptedApp(int loginResult) : m_loginResult(loginResult) {}
  int logins = 0;
  int mainDialogs = 0;

 protected:
  int RunLogin() override {
    ++logins;
    return m_loginResult;
  }
  void RunMainDialog() override { ++mainDialogs; }

 private:
  int m_loginResult;
};

class VendrelAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    m_saved = saved ? saved : "";
    m_hadSaved = saved != nullptr;
    ::setenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit().constData(), 1);
  }
  void TearDown() override {
    if (m_hadSaved) ::setenv("XDG_CONFIG_HOME", m_saved.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
  }
  QTemporaryDir m_dir;
  std::string m_saved;
  bool m_hadSaved = false;
};

TEST_F(VendrelAppTest, ACancelledLoginNeverShowsTheMainWindow) {
  ScriptedApp app(QDialog::Rejected);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.logins, 1);
  EXPECT_EQ(app.mainDialogs, 0);
  app.ExitInstance();
}

TEST_F(VendrelAppTest, AnAcceptedLoginShowsTheMainWindowAndTheUsersConfigIsMade) {
  ScriptedApp app(QDialog::Accepted);
  EXPECT_TRUE(app.InitInstance());
  EXPECT_EQ(app.mainDialogs, 1);
  EXPECT_TRUE(QFile::exists(m_dir.filePath("vendrel/Config.ini")));
  EXPECT_EQ(vendrel::ConfigFilePath(), m_dir.filePath("vendrel/Config.ini").toStdString());
  app.ExitInstance();
}

}  // namespace
