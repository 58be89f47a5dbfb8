// CModifyPwd: the order of the checks and the one value it writes.
#include "modifypwd.h"

#include "accountfixture.h"
#include "profile/profile.h"

#include <QPushButton>

namespace {

using apptest::AccountTest;

class ModifyPwdTest : public AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    WriteConfig("[SystemLogin_Info]\nUserName=admin\nCheck=1\nPassword=%1\n", "old");
  }
  int Change(CModifyPwd& dialog, const QString& old, const QString& now, const QString& confirm) {
    Edit(&dialog, "1012")->setText(old);
    Edit(&dialog, "1007")->setText(now);
    Edit(&dialog, "1008")->setText(confirm);
    dialog.findChild<QPushButton*>("1")->click();
    return dialog.result();
  }
  std::string Stored() const {
    return obsidra::Decrypt(profile::GetString(m_config, "SystemLogin_Info", "Password", "", 1000));
  }
};

TEST_F(ModifyPwdTest, ControlsCarryTheirIds) {
  CModifyPwd dialog(nullptr, m_config);
  for (const char* id : {"1012", "1007", "1008"}) {
    ASSERT_NE(Edit(&dialog, id), nullptr) << id;
    EXPECT_EQ(Edit(&dialog, id)->echoMode(), QLineEdit::Password) << id;
    EXPECT_EQ(Edit(&dialog, id)->maxLength(), 255) << id;
  }
  EXPECT_TRUE(dialog.findChild<QPushButton*>("1")->isDefault());
  EXPECT_NE(dialog.findChild<QPushButton*>("2"), nullptr);
  EXPECT_EQ(dialog.size(), QSize(397, 196));  // 265 x 121 dialog units
}

TEST_F(ModifyPwdTest, FailedChecksWriteNothing) {
  struct Case {
    QString old, now, confirm, message;
  } cases[] = {
      {"wrong", "new", "new", "OldPasswordError"},   // a wrong old password comes first
      {"wrong", "new", "other", "OldPasswordError"},
      {"", "new", "new", "OldPasswordError"},
      {"old", "new", "New", "NewPasswordNotSame"},
  };
  const QByteArray before = ReadConfig();
  for (const Case& c : cases) {
    m_messages.clear();
    CModifyPwd dialog(nullptr, m_config);
    EXPECT_NE(Change(dialog, c.old, c.now, c.confirm), QDialog::Accepted) << c.old.toStdString();
    EXPECT_EQ(m_messages, QStringList{c.message});
    EXPECT_EQ(ReadConfig(), before);
  }
}

TEST_F(ModifyPwdTest, SuccessWritesOnlyThePassword) {
  for (const QString& now : {QString("n%w pass"), QString()}) {  // an empty new password is accepted
    CModifyPwd dialog(nullptr, m_config);
    const std::string current = Stored();
    ASSERT_EQ(Change(dialog, QString::fromStdString(current), now, now), QDialog::Accepted);
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(Stored(), now.toStdString());
    const profile::Document doc = profile::Document::Parse(ReadConfig().toStdString());
    EXPECT_EQ(doc.Keys("SystemLogin_Info"), (std::vector<std::string>{"UserName", "Check", "Password"}));
    EXPECT_EQ(doc.GetString("SystemLogin_Info", "Check", "", 255), "1");
    EXPECT_EQ(doc.GetString("SystemLogin_Info", "UserName", "", 255), "admin");
  }
  EXPECT_FALSE(ReadConfig().contains("n%w pass"));
}

TEST_F(ModifyPwdTest, CancelAndFailedWrites) {
  const QByteArray before = ReadConfig();
  {
    CModifyPwd dialog(nullptr, m_config);
    Edit(&dialog, "1012")->setText("old");
    dialog.findChild<QPushButton*>("2")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(ReadConfig(), before);
  }
  CModifyPwd dialog(nullptr, m_config);
  obsidra::SetKeyFile(m_dir.filePath("key").toStdString());  // a key outside the folder that goes
  ASSERT_TRUE(QDir(m_dir.filePath("conf")).removeRecursively());
  EXPECT_NE(Change(dialog, "old", "new", "new"), QDialog::Accepted);
  EXPECT_EQ(m_messages, QStringList{"ConfigWriteFail"});
}

}  // namespace
