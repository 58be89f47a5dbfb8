// CDialogSaveTo -- asks for the local folder that an export, a snapshot or a local record goes
// to.
//
// The dialog shows the folder chosen so far in a read-only edit box (1005); the button
// "FilePath" (1004) opens the folder browser, and OK (1) ends the dialog with Accepted, after
// which the caller reads m_strPath. Closing the window (or Escape) ends it with Rejected. The
// edit box only shows the folder: text typed into it is not read back.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;

class CDialogSaveTo : public QDialog {
  Q_OBJECT

 public:
  // Shows the folder browser with a title, starting in a folder; returns the folder chosen or
  // an empty string when the user cancels. Tests replace it.
  using FolderChooser = std::function<QString(QWidget* owner, const QString& title, const QString& start)>;

  // m_strPath starts as the process's current directory. parent may be null.
  explicit CDialogSaveTo(QWidget* parent = nullptr);

  // The folder browser (QFileDialog::getExistingDirectory, folders only) titled with the text
  // "Selectfolder". Returns the chosen folder, or an empty string when the user cancels.
  QString SelectFolder(QWidget* owner);

  // Starts the dialog at folder (shown in the edit box) instead of the current directory.
  void SetPath(const QString& folder);

  // Replaces the folder browser of every CDialogSaveTo (an empty chooser restores the real one).
  static void SetFolderChooser(FolderChooser chooser);

  QString m_strPath;  // the chosen folder

 private:
  // Button 1004: the browser; a cancelled browser keeps the old folder.
  void OnFilePath();

  QLineEdit* m_pEdit;  // 1005
};
