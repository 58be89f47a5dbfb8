#include "gototime.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "initlanguage.h"

CGoToTimeDlg::CGoToTimeDlg(const QDateTime& start, QWidget* parent) : QDialog(parent) {
  CInitLanguage* language = CInitLanguage::Instance();
  setWindowTitle(language->GetString(QStringLiteral("GoToTime")));
  m_pEdit = new QDateTimeEdit(start, this);
  m_pEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  m_pEdit->setCalendarPopup(true);
  m_pEdit->setAccessibleName(language->GetString(QStringLiteral("Time")));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(language->GetString(QStringLiteral("OK")));
  buttons->button(QDialogButtonBox::Cancel)->setText(language->GetString(QStringLiteral("Cancel")));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pEdit);
  layout->addWidget(buttons);
}

QDateTime CGoToTimeDlg::Moment() const { return m_pEdit->dateTime(); }
