// CModifyPwd: the password change dialog.
#include "modifypwd.h"

#include "appdirs.h"
#include "dialogkit.h"
#include "initlanguage.h"
#include "loginaccount.h"
#include "messagebox.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using vendrel::DluRect;

CModifyPwd::CModifyPwd(QWidget* parent, std::string configFile)
    : QDialog(parent), m_strConfigFile(configFile.empty() ? vendrel::ConfigFilePath() : std::move(configFile)) {
  CreateControls();
  TranslateControls();
  LoadPassword();
}

CModifyPwd::~CModifyPwd() = default;

void CModifyPwd::CreateControls() {
  setObjectName(QStringLiteral("138"));
  setWindowTitle(QStringLiteral("ModifyPwd"));
  setFixedSize(vendrel::DluSize(265, 121));
  connect(vendrel::AddButton(this, 1, QStringLiteral("OK"), DluRect(61, 79, 50, 14), true),
          &QPushButton::clicked, this, &CModifyPwd::accept);
  connect(vendrel::AddButton(this, 2, QStringLiteral("Cancel"), DluRect(149, 79, 50, 14)),
          &QPushButton::clicked, this, &QDialog::reject);
  QLabel* old = vendrel::AddStatic(this, QStringLiteral("OldPassword"), DluRect(28, 9, 81, 8), Qt::AlignRight);
  m_oldEdit = vendrel::AddEdit(this, 1012, DluRect(123, 7, 77, 14), true);
  QLabel* fresh = vendrel::AddStatic(this, QStringLiteral("NewPassword"), DluRect(24, 31, 85, 8), Qt::AlignRight);
  m_newEdit = vendrel::AddEdit(this, 1007, DluRect(123, 28, 77, 14), true);
  QLabel* confirm = vendrel::AddStatic(this, QStringLiteral("ConfirmPassword"), DluRect(25, 53, 84, 8), Qt::AlignRight);
  m_confirmEdit = vendrel::AddEdit(this, 1008, DluRect(123, 49, 77, 14), true);
  old->setBuddy(m_oldEdit);  // each edit is named by its label
  fresh->setBuddy(m_newEdit);
  confirm->setBuddy(m_confirmEdit);
  vendrel::ApplyDialogLook(this);
}

void CModifyPwd::TranslateControls() {
  CInitLanguage::Instance()->Translate(this);
  for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) vendrel::FitText(label, true);
  vendrel::NameEditsByLabels(this);
}

void CModifyPwd::LoadPassword() { m_strCurrent = vendrel::ReadStoredPassword(m_strConfigFile); }

void CModifyPwd::accept() {
  m_strOld = m_oldEdit->text().toStdString();
  m_strNew = m_newEdit->text().toStdString();
  m_strConfirm = m_confirmEdit->text().toStdString();
  if (m_strOld != m_strCurrent) return vendrel::ShowMessage(this, QStringLiteral("OldPasswordError"));
  if (m_strNew != m_strConfirm) return vendrel::ShowMessage(this, QStringLiteral("NewPasswordNotSame"));
  std::string stored;
  if (!vendrel::EncipherPassword(m_strNew, &stored))
    return vendrel::ShowMessage(this, QStringLiteral("CipherKeyFail"));
  if (!vendrel::WriteLoginValue(m_strConfigFile, "Password", stored))
    return vendrel::ShowMessage(this, QStringLiteral("ConfigWriteFail"));
  QDialog::accept();
}
