// CDialogSaveTo -- asks for the local folder that an export, a snapshot or a local record goes
// to.
//
// The dialog shows the folder chosen so far in an edit box (1005, tooltip and accessible name
// "TargetFolder") where a path may also be typed or pasted; the button "FilePath" (1004) opens
// the folder browser there, and OK (1) ends the dialog with Accepted when the box holds a
// path, after which the caller reads m_strPath (the box's text, "~/" read as the home folder).
// The folder accepted last is where the next dialog of this program run starts; the first one
// starts in the user's home folder, never in the program's working folder. Closing the window
// (or Escape) ends it with Rejected.
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

  // m_strPath starts as the folder accepted last, or the user's home folder. parent may be null.
  explicit CDialogSaveTo(QWidget* parent = nullptr);

  // The folder browser (QFileDialog::getExistingDirectory, folders only) titled with the text
  // "Selectfolder". Returns the chosen folder, or an empty string when the user cancels.
  QString SelectFolder(QWidget* owner);

  // Starts the dialog at folder (shown in the edit box) instead of the current directory.
  void SetPath(const QString& folder);

  // Replaces the folder browser of every CDialogSaveTo (an empty chooser restores the real one).
  static void SetFolderChooser(FolderChooser chooser);

  // Takes the box's path and ends with Accepted; an empty box keeps the dialog open.
  void accept() override;

  QString m_strPath;  // the chosen folder

 private:
  // Button 1004: the browser; a cancelled browser keeps the old folder.
  void OnFilePath();

  QLineEdit* m_pEdit;  // 1005
};
