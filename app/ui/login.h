// CLogin: the login dialog shown before the main window.
//
// The user name and password typed are compared, exactly and case-sensitively, with the one
// account of the user's Config.ini (loginaccount.h). Checks in this order, each failure a
// message (language key) and the dialog stays open:
//   1. empty user name                      -> "UserNotNull"
//   2. user name other than the stored one  -> "UserNotExisted"
//   3. password other than the stored one   -> "PasswdError"
// On success "Check" (the check box, 0 or 1), "UserName" and "Password" (enciphered) are
// written in this order and the dialog ends with Accepted. When the password cannot be
// enciphered ("CipherKeyFail") or a write fails ("ConfigWriteFail"), the dialog says so and
// stays open. Cancel (or Escape) ends it with Rejected and writes nothing.
//
// Controls (object name = control id): "1" Login (default button), "2" Cancel, "1010" user
// name, "1011" password (hidden), "1009" remember password; two static labels.
#pragma once

#include "skinwin/skininterface.h"

#include <QDialog>

#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;

class CLogin : public QDialog {
  Q_OBJECT

 public:
  // configFile: the Config.ini holding the account; empty means vendrel::ConfigFilePath().
  // The account is read here, once.
  explicit CLogin(QWidget* parent = nullptr, std::string configFile = {});
  ~CLogin() override;

  // The Login button (and Enter): the checks above.
  void accept() override;

 private:
  // The steps of the dialog's start, in order.
  void CreateControls();
  void TranslateControls();
  void ApplySkin();
  void LoadAccount();

  std::unique_ptr<skinwin::CSkinInterface> m_skin;  // the dialog's skin (frame, labels, edits)
  std::string m_strConfigFile;   // the Config.ini of the account
  std::string m_strUserName;     // as typed (edit 1010)
  std::string m_strPassword;     // as typed (edit 1011)
  int m_nRemember = 0;           // check box 1009
  std::string m_strStoredUser;   // the account's user name
  std::string m_strStoredPassword;  // the account's password, deciphered

  QLineEdit* m_userEdit = nullptr;
  QLineEdit* m_passwordEdit = nullptr;
  QCheckBox* m_rememberBox = nullptr;
};
