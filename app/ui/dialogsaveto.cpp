// The target-folder dialog.
#include "dialogsaveto.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

#include "initlanguage.h"

namespace {

CDialogSaveTo::FolderChooser& Chooser() {
  static CDialogSaveTo::FolderChooser chooser;
  return chooser;
}

// The folder accepted last in this program run (empty before the first).
QString& LastFolder() {
  static QString folder;
  return folder;
}

}  // namespace

CDialogSaveTo::CDialogSaveTo(QWidget* parent)
    : QDialog(parent),
      m_strPath(LastFolder().isEmpty() ? QDir::homePath() : LastFolder()),
      m_pEdit(new QLineEdit(this)) {
  setObjectName("135");
  setWindowTitle("SaveTo");
  auto* browse = new QPushButton("FilePath", this);
  browse->setObjectName("1004");
  m_pEdit->setObjectName("1005");
  m_pEdit->setMinimumWidth(360);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("1");
  ok->setDefault(true);
  auto* grid = new QGridLayout(this);
  grid->addWidget(m_pEdit, 0, 0);
  grid->addWidget(browse, 0, 1);
  grid->addWidget(ok, 1, 1);
  connect(browse, &QPushButton::clicked, this, &CDialogSaveTo::OnFilePath);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  CInitLanguage::Instance()->Translate(this);
  const QString caption = CInitLanguage::Instance()->GetString("TargetFolder");
  m_pEdit->setToolTip(caption);
  m_pEdit->setAccessibleName(caption);
  m_pEdit->setText(m_strPath);
}

void CDialogSaveTo::accept() {
  QString path = m_pEdit->text().trimmed();
  if (path == "~" || path.startsWith("~/")) path = QDir::homePath() + path.mid(1);
  if (path.isEmpty()) return;
  m_strPath = path;
  LastFolder() = path;
  QDialog::accept();
}

QString CDialogSaveTo::SelectFolder(QWidget* owner) {
  const QString title = CInitLanguage::Instance()->GetString("Selectfolder");
  if (Chooser()) return Chooser()(owner, title, m_strPath);
  return QFileDialog::getExistingDirectory(owner, title, m_strPath, QFileDialog::ShowDirsOnly);
}

void CDialogSaveTo::SetFolderChooser(FolderChooser chooser) { Chooser() = std::move(chooser); }

void CDialogSaveTo::SetPath(const QString& folder) {
  m_strPath = folder;
  m_pEdit->setText(m_strPath);
}

void CDialogSaveTo::OnFilePath() {
  // The browser starts at what the box names when that folder exists.
  const QString typed = m_pEdit->text().trimmed();
  if (!typed.isEmpty() && QDir(typed).exists()) m_strPath = typed;
  const QString chosen = SelectFolder(this);
  if (!chosen.isEmpty()) m_strPath = chosen;
  m_pEdit->setText(m_strPath);
}
