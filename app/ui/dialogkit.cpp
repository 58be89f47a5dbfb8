// Building the viewer's dialogs in dialog units.
#include "dialogkit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include <algorithm>

namespace vendrel {
namespace {

// Refuses text longer than a number of UTF-8 bytes (the cipher's buffers count bytes, a line
// edit's maximum length counts characters).
class Utf8LimitValidator : public QValidator {
 public:
  Utf8LimitValidator(int maxBytes, QObject* parent) : QValidator(parent), m_maxBytes(maxBytes) {}
  State validate(QString& input, int&) const override {
    return input.toUtf8().size() <= m_maxBytes ? Acceptable : Invalid;
  }

 private:
  int m_maxBytes;
};

QString IdName(int id) { return QString::number(id); }

}  // namespace

QRect DluRect(int x, int y, int width, int height) {
  return QRect(x * 3 / 2, y * 13 / 8, width * 3 / 2, height * 13 / 8);
}

QSize DluSize(int width, int height) { return QSize(width * 3 / 2, height * 13 / 8); }

QLabel* AddStatic(QWidget* dialog, const QString& key, QRect dlu, Qt::Alignment align) {
  auto* label = new QLabel(key, dialog);
  label->setGeometry(dlu);
  label->setAlignment(align | Qt::AlignVCenter);
  return label;
}

QLineEdit* AddEdit(QWidget* dialog, int id, QRect dlu, bool password) {
  auto* edit = new QLineEdit(dialog);
  edit->setObjectName(IdName(id));
  edit->setGeometry(dlu);
  edit->setMaxLength(kMaxAccountText);
  edit->setValidator(new Utf8LimitValidator(kMaxAccountText, edit));
  if (password) edit->setEchoMode(QLineEdit::Password);
  return edit;
}

QPushButton* AddButton(QWidget* dialog, int id, const QString& key, QRect dlu, bool isDefault) {
  auto* button = new QPushButton(key, dialog);
  button->setObjectName(IdName(id));
  button->setGeometry(dlu);
  button->setDefault(isDefault);
  button->setAutoDefault(isDefault);
  return button;
}

QCheckBox* AddCheckBox(QWidget* dialog, int id, const QString& key, QRect dlu) {
  auto* box = new QCheckBox(key, dialog);
  box->setObjectName(IdName(id));
  box->setGeometry(dlu);
  return box;
}

void FitText(QLabel* label, bool growLeft) {
  const int wanted = label->sizeHint().width();
  QRect rect = label->geometry();
  if (wanted <= rect.width()) return;
  if (growLeft) rect.setLeft(std::max(2, rect.right() + 1 - wanted));
  else rect.setWidth(wanted);
  label->setGeometry(rect);
}

void FitText(QCheckBox* box) {
  const int wanted = box->sizeHint().width();
  if (wanted > box->width()) box->resize(wanted, box->height());
}

void ApplyDialogLook(QWidget* dialog) {
  dialog->setStyleSheet(QStringLiteral(
      "QDialog { background-color: #E6E6E6; }"
      "QLabel { color: #212121; background: transparent; }"
      "QCheckBox { color: #212121; }"
      "QLineEdit { background-color: #FFFFFF; color: #212121; border: 2px solid #9AA3AC; }"));
}

}  // namespace vendrel

namespace vendrel {

void NameEditsByLabels(QWidget* dialog) {
  for (QLabel* label : dialog->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
    if (QWidget* edit = label->buddy()) edit->setAccessibleName(label->text().remove('&'));
}

}  // namespace vendrel
