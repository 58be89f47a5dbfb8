// CModifyPwd: the password change dialog of the main window's "ModifyPwd" command.
//
// The current password is read from the user's Config.ini (deciphered) when the dialog
// starts. Checks in this order, each failure a message (language key) and the dialog stays
// open:
//   1. old password other than the current one  -> "OldPasswordError"
//   2. new password other than its confirmation  -> "NewPasswordNotSame"
// On success only "Password" is written (enciphered; an empty new password is accepted) and
// the dialog ends with Accepted. When the password cannot be enciphered ("CipherKeyFail") or
// the write fails ("ConfigWriteFail"), the dialog says so and stays open. Cancel (or Escape)
// writes nothing. The login dialog of a running program keeps the password it read; the new
// one counts from the next start.
//
// Controls (object name = control id): "1" OK (default button), "2" Cancel, "1012" old,
// "1007" new, "1008" confirmation (all hidden); three right-aligned labels.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

class CModifyPwd : public QDialog {
  Q_OBJECT

 public:
  // configFile: the Config.ini holding the account; empty means vendrel::ConfigFilePath().
  explicit CModifyPwd(QWidget* parent = nullptr, std::string configFile = {});
  ~CModifyPwd() override;

  // The OK button (and Enter): the checks above.
  void accept() override;

 private:
  // The steps of the dialog's start, in order.
  void CreateControls();
  void TranslateControls();
  void LoadPassword();

  std::string m_strConfigFile;    // the Config.ini of the account
  std::string m_strCurrent;       // the stored password, deciphered
  std::string m_strOld;           // edit 1012
  std::string m_strNew;           // edit 1007
  std::string m_strConfirm;       // edit 1008

  QLineEdit* m_oldEdit = nullptr;
  QLineEdit* m_newEdit = nullptr;
  QLineEdit* m_confirmEdit = nullptr;
};
