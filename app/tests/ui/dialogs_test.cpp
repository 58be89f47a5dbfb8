// Dialog habits a person relies on: the target folder can be typed or pasted and starts where
// the last export went (never in the program's working folder), and messages are centred on the
// dialog they belong to.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <krt_testing/scratch.h>

#include <memory>
#include <vector>

#include "dialogcpfile.h"
#include "dialogsaveto.h"
#include "login.h"
#include "messagebox.h"
#include "modifypwd.h"
#include "vendreldlg.h"

namespace {

TEST(DialogSaveTo, FolderIsTypedOrPastedAndTheNextDialogStartsThere) {
  krt_testing::ScratchDir scratch;
  const QString cwd = QDir::currentPath();
  ASSERT_EQ(::chdir(scratch.path("").c_str()), 0);
  QString started;
  CDialogSaveTo::SetFolderChooser([&](QWidget*, const QString&, const QString& start) {
    started = start;
    return QString();  // cancelled
  });
  {
    CDialogSaveTo first;
    EXPECT_NE(first.m_strPath, QDir::currentPath()) << "never the working folder";
    QLineEdit* edit = first.findChild<QLineEdit*>("1005");
    ASSERT_NE(edit, nullptr);
    EXPECT_FALSE(edit->isReadOnly());
    EXPECT_FALSE(edit->accessibleName().isEmpty());
    edit->clear();
    first.accept();
    EXPECT_EQ(first.result(), QDialog::Rejected) << "an empty box is no folder";
    edit->setText("  ~/exports/case17 ");  // pasted with blanks around it
    first.findChild<QPushButton*>("1")->click();
    EXPECT_EQ(first.result(), QDialog::Accepted);
    EXPECT_EQ(first.m_strPath, QDir::homePath() + "/exports/case17");
  }
  const QString typed = QString::fromStdString(scratch.path("typed"));
  QDir().mkpath(typed);
  {
    CDialogSaveTo second;
    EXPECT_EQ(second.m_strPath, QDir::homePath() + "/exports/case17") << "the last export's folder";
    second.findChild<QLineEdit*>("1005")->setText(typed);
    second.findChild<QPushButton*>("1004")->click();
    EXPECT_EQ(started, typed) << "the browser starts at the folder typed";
    EXPECT_EQ(second.findChild<QLineEdit*>("1005")->text(), typed) << "a cancelled browser keeps it";
  }
  CDialogSaveTo::SetFolderChooser(nullptr);
  ASSERT_EQ(::chdir(cwd.toLocal8Bit().constData()), 0);
}

TEST(MessageBox, IsCentredOnItsDialog) {
  QWidget owner;
  owner.setGeometry(260, 150, 360, 240);  // inside the offscreen screen (800 x 600)
  owner.show();
  QRect box;
  QTimer::singleShot(0, [&] {
    auto* message = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(message, nullptr);
    box = message->frameGeometry();
    message->button(QMessageBox::Ok)->click();
  });
  vendrel::ShowMessage(&owner, "PasswdError");
  ASSERT_FALSE(box.isEmpty());
  const QPoint off = box.center() - owner.frameGeometry().center();
  EXPECT_LE(off.manhattanLength(), 2) << "box at " << box.x() << "," << box.y();
}

// A short text under a long caption (the German about box: "Über Vendrel") still leaves the
// whole caption room in the title bar.
TEST(MessageBox, IsWideEnoughForItsTitle) {
  for (const QString& title : {QStringLiteral("Über Vendrel"), QStringLiteral("Vendrel"),
                              QStringLiteral("Ein sehr langer Fenstertitel einer Meldung")}) {
    QMessageBox box(QMessageBox::NoIcon, title, QStringLiteral("Vendrel\nVersion 0.1"), QMessageBox::Ok);
    vendrel::FitTitle(&box);
    box.show();
    EXPECT_GE(box.width(), box.fontMetrics().horizontalAdvance(title) + 100) << title.toStdString();
  }
}

}  // namespace

namespace {

// Every button and text field of the viewer's windows has an accessible name: its caption, its
// label or its tooltip.
TEST(Accessibility, EveryButtonAndTextFieldIsNamed) {
  std::vector<std::unique_ptr<QWidget>> windows;
  windows.push_back(std::make_unique<CLogin>());
  windows.push_back(std::make_unique<CModifyPwd>());
  windows.push_back(std::make_unique<CDialogSaveTo>());
  windows.push_back(std::make_unique<CDialogCpFile>());
  windows.push_back(std::make_unique<CVendrelDlg>());
  for (const auto& window : windows) {
    window->show();
    for (QWidget* w : window->findChildren<QWidget*>()) {
      if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLineEdit*>(w)) continue;
      if (!w->isVisibleTo(window.get())) continue;
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
      ASSERT_NE(a, nullptr);
      EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
          << window->metaObject()->className() << " > " << w->metaObject()->className() << " "
          << w->objectName().toStdString();
    }
  }
}

}  // namespace
