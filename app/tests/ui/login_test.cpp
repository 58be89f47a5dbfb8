// CLogin: the account read at start, the order of the checks, what is written and when.
#include "login.h"

#include "accountfixture.h"
#include "profile/profile.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

using apptest::AccountTest;

class LoginTest : public AccountTest {
 protected:
  // Types name and password into a new login dialog, sets the check box and presses Login.
  // Returns the dialog's result (Accepted or 0 when it stayed open).
  int Login(const QString& name, const QString& password, bool remember = false) {
    CLogin dialog(nullptr, m_config);
    return Login(dialog, name, password, remember);
  }
  int Login(CLogin& dialog, const QString& name, const QString& password, bool remember) {
    Edit(&dialog, "1010")->setText(name);
    Edit(&dialog, "1011")->setText(password);
    dialog.findChild<QCheckBox*>("1009")->setChecked(remember);
    dialog.findChild<QPushButton*>("1")->click();
    return dialog.result();
  }
};

TEST_F(LoginTest, ControlsCarryTheirIds) {
  CLogin dialog(nullptr, m_config);
  for (const char* id : {"1", "2"}) EXPECT_NE(dialog.findChild<QPushButton*>(id), nullptr) << id;
  EXPECT_TRUE(dialog.findChild<QPushButton*>("1")->isDefault());
  EXPECT_NE(dialog.findChild<QCheckBox*>("1009"), nullptr);
  EXPECT_EQ(Edit(&dialog, "1010")->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(Edit(&dialog, "1011")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Edit(&dialog, "1011")->maxLength(), 255);
  EXPECT_EQ(dialog.size(), QSize(279, 146));  // 186 x 90 dialog units
}

TEST_F(LoginTest, TheAccountFillsTheDialogAsCheckSays) {
  struct Case {
    std::string config;
    QString name;
    QString password;
    bool checked;
  } cases[] = {
      {"[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n", "admin", "secret", true},
      {"[SystemLogin_Info]\nUserName=admin\nCheck=0\nPassword=%1\n", "admin", "", false},
      {"[SystemLogin_Info]\nUserName=admin\nPassword=%1\n", "", "", false},  // no Check: no account
      {"", "", "", false},
  };
  for (const Case& c : cases) {
    WriteConfig(c.config, "secret");
    CLogin dialog(nullptr, m_config);
    EXPECT_EQ(Edit(&dialog, "1010")->text(), c.name) << c.config;
    EXPECT_EQ(Edit(&dialog, "1011")->text(), c.password) << c.config;
    EXPECT_EQ(dialog.findChild<QCheckBox*>("1009")->isChecked(), c.checked) << c.config;
  }
}

TEST_F(LoginTest, ChecksInOrderAndNothingWrittenOnFailure) {
  struct Case {
    std::string config;
    QString name;
    QString password;
    QString message;
  } cases[] = {
      {"[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n", "", "secret", "UserNotNull"},
      {"[SystemLogin_Info]\nUserName=\nCheck=1\nPassword=%1\n", "", "secret", "UserNotNull"},
      {"[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n", "Admin", "secret", "UserNotExisted"},
      {"[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n", "admin", "Secret", "PasswdError"},
      {"[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n", "admin", "", "PasswdError"},
      {"[SystemLogin_Info]\nUserName=admin\nPassword=%1\n", "admin", "secret", "UserNotExisted"},
      {"", "admin", "", "UserNotExisted"},  // no Config.ini at all
  };
  for (const Case& c : cases) {
    WriteConfig(c.config, "secret");
    const QByteArray before = ReadConfig();
    m_messages.clear();
    EXPECT_NE(Login(c.name, c.password), QDialog::Accepted) << c.config;
    EXPECT_EQ(m_messages, QStringList{c.message}) << c.config;
    EXPECT_EQ(ReadConfig(), before);
  }
}

TEST_F(LoginTest, SuccessWritesCheckUserNameAndPasswordInThisOrder) {
  WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n[themes]\nSolution=\n", "se%cret");
  for (bool remember : {false, true}) {
    CLogin dialog(nullptr, m_config);
    // The account was read; an emptied section shows the order of the writes in the file.
    WriteConfig("[SystemLogin_Info]\n[themes]\nSolution=\n");
    ASSERT_EQ(Login(dialog, "admin", "se%cret", remember), QDialog::Accepted);
    EXPECT_TRUE(m_messages.isEmpty());
    const profile::Document doc = profile::Document::Parse(ReadConfig().toStdString());
    EXPECT_EQ(doc.Keys("SystemLogin_Info"), (std::vector<std::string>{"Check", "UserName", "Password"}));
    EXPECT_EQ(doc.GetString("SystemLogin_Info", "Check", "", 255), remember ? "1" : "0");
    EXPECT_EQ(doc.GetString("SystemLogin_Info", "UserName", "", 255), "admin");
    const std::string stored = doc.GetString("SystemLogin_Info", "Password", "", 1000);
    EXPECT_EQ(obsidra::Decrypt(stored), "se%cret");
    EXPECT_FALSE(ReadConfig().contains("se%cret"));  // never in clear
    WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n[themes]\nSolution=\n", "se%cret");
  }
}

TEST_F(LoginTest, TheShippedAccountLogsInWithAnEmptyPasswordOnce) {
  WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=0\nPassword=\n\n[themes]\nSolution=\n");
  ASSERT_EQ(Login("admin", ""), QDialog::Accepted);
  const std::string stored = profile::GetString(m_config, "SystemLogin_Info", "Password", "", 1000);
  EXPECT_FALSE(stored.empty());  // the empty password, enciphered
  EXPECT_EQ(obsidra::Decrypt(stored), "");
  EXPECT_EQ(Login("admin", ""), QDialog::Accepted);
  EXPECT_NE(Login("admin", "x"), QDialog::Accepted);
  // A long password's enciphered form is longer than other values, and still read whole.
  const QString longPassword(255, QChar('p'));
  WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n", longPassword.toStdString());
  EXPECT_EQ(Login("admin", longPassword), QDialog::Accepted);
}

TEST_F(LoginTest, CancelWritesNothing) {
  WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=0\nPassword=\n");
  const QByteArray before = ReadConfig();
  CLogin dialog(nullptr, m_config);
  Edit(&dialog, "1010")->setText("admin");
  dialog.findChild<QPushButton*>("2")->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(ReadConfig(), before);
  EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(LoginTest, AConfigIniThatCannotBeWrittenKeepsTheDialogOpen) {
  WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=0\nPassword=\n");
  CLogin dialog(nullptr, m_config);
  obsidra::Encrypt("");  // the key exists before its folder goes
  obsidra::SetKeyFile(m_dir.filePath("key").toStdString());
  ASSERT_TRUE(QDir(m_dir.filePath("conf")).removeRecursively());  // the folder is gone
  EXPECT_NE(Login(dialog, "admin", "", false), QDialog::Accepted);
  EXPECT_EQ(m_messages, QStringList{"ConfigWriteFail"});
}

TEST_F(LoginTest, AKeyFileThatCannotBeUsedKeepsTheDialogOpenAndWritesNothing) {
  WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=0\nPassword=\n");
  QFile key(m_dir.filePath("conf/obsidra.key"));
  ASSERT_TRUE(key.open(QIODevice::WriteOnly));
  key.write("too short");
  key.close();
  const QByteArray before = ReadConfig();
  EXPECT_NE(Login("admin", ""), QDialog::Accepted);
  EXPECT_EQ(m_messages, QStringList{"CipherKeyFail"});
  EXPECT_EQ(ReadConfig(), before);
}

TEST_F(LoginTest, OverlongInputIsRefused) {
  CLogin dialog(nullptr, m_config);
  QLineEdit* password = Edit(&dialog, "1011");
  password->setText(QString(300, QChar('p')));
  EXPECT_EQ(password->text().size(), 255);
  password->clear();
  password->insert(QString(200, QChar(0xE4)));  // 400 bytes of UTF-8: refused
  EXPECT_TRUE(password->text().isEmpty());
}

}  // namespace
