// CLogin: the login dialog.
#include "login.h"

#include "appdirs.h"
#include "dialogkit.h"
#include "initlanguage.h"
#include "loginaccount.h"
#include "messagebox.h"
#include "windowskin.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>

using vendrel::DluRect;

CLogin::CLogin(QWidget* parent, std::string configFile)
    : QDialog(parent), m_strConfigFile(configFile.empty() ? vendrel::ConfigFilePath() : std::move(configFile)) {
  CreateControls();
  TranslateControls();
  ApplySkin();
  LoadAccount();
}

CLogin::~CLogin() = default;

void CLogin::CreateControls() {
  setObjectName(QStringLiteral("137"));
  setWindowTitle(QStringLiteral("Login"));
  setFixedSize(vendrel::DluSize(186, 90));
  vendrel::AddButton(this, 1, QStringLiteral("Login"), DluRect(31, 70, 50, 14), true);
  connect(vendrel::AddButton(this, 2, QStringLiteral("Cancel"), DluRect(94, 71, 50, 14)),
          &QPushButton::clicked, this, &QDialog::reject);
  connect(findChild<QPushButton*>(QStringLiteral("1")), &QPushButton::clicked, this, &CLogin::accept);
  QLabel* user = vendrel::AddStatic(this, QStringLiteral("Username"), DluRect(32, 12, 33, 8));
  m_userEdit = vendrel::AddEdit(this, 1010, DluRect(67, 10, 63, 14), false);
  QLabel* password = vendrel::AddStatic(this, QStringLiteral("Password"), DluRect(31, 34, 32, 8));
  m_passwordEdit = vendrel::AddEdit(this, 1011, DluRect(67, 31, 63, 14), true);
  user->setBuddy(m_userEdit);  // each edit is named by its label
  password->setBuddy(m_passwordEdit);
  m_rememberBox = vendrel::AddCheckBox(this, 1009, QStringLiteral("EnablePassword"), DluRect(33, 53, 68, 10));
  vendrel::ApplyDialogLook(this);
}

void CLogin::TranslateControls() {
  CInitLanguage::Instance()->Translate(this);
  // Translated captions may be longer than their design: labels grow towards the left, away
  // from their edits; the check box towards the right.
  for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) vendrel::FitText(label, true);
  vendrel::FitText(m_rememberBox);
  vendrel::NameEditsByLabels(this);
}

void CLogin::ApplySkin() { m_skin = vendrel::ApplyWindowSkin(this); }

void CLogin::LoadAccount() {
  const std::string check = vendrel::ReadLoginValue(m_strConfigFile, "Check");
  if (!check.empty()) {
    m_nRemember = std::atoi(check.c_str());
    m_strStoredPassword = vendrel::ReadStoredPassword(m_strConfigFile);
    if (m_nRemember != 0) m_strPassword = m_strStoredPassword;
    m_strStoredUser = vendrel::ReadLoginValue(m_strConfigFile, "UserName");
    m_strUserName = m_strStoredUser;
  }
  m_userEdit->setText(QString::fromStdString(m_strUserName));
  m_passwordEdit->setText(QString::fromStdString(m_strPassword));
  m_rememberBox->setChecked(m_nRemember != 0);
  // Typing starts where the account needs it: the user name, or the password when the name
  // is filled in already.
  (m_strUserName.empty() ? m_userEdit : m_passwordEdit)->setFocus();
}

void CLogin::accept() {
  m_strUserName = m_userEdit->text().toStdString();
  m_strPassword = m_passwordEdit->text().toStdString();
  m_nRemember = m_rememberBox->isChecked() ? 1 : 0;
  if (m_strUserName.empty()) return vendrel::ShowMessage(this, QStringLiteral("UserNotNull"));
  if (m_strUserName != m_strStoredUser) return vendrel::ShowMessage(this, QStringLiteral("UserNotExisted"));
  if (m_strPassword != m_strStoredPassword) return vendrel::ShowMessage(this, QStringLiteral("PasswdError"));
  std::string stored;
  if (!vendrel::EncipherPassword(m_strPassword, &stored))
    return vendrel::ShowMessage(this, QStringLiteral("CipherKeyFail"));
  if (!vendrel::WriteLoginValue(m_strConfigFile, "Check", std::to_string(m_nRemember)) ||
      !vendrel::WriteLoginValue(m_strConfigFile, "UserName", m_strUserName) ||
      !vendrel::WriteLoginValue(m_strConfigFile, "Password", stored))
    return vendrel::ShowMessage(this, QStringLiteral("ConfigWriteFail"));
  QDialog::accept();
}
