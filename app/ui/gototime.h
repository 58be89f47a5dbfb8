// CGoToTimeDlg -- asks for the moment of "Go to Time...": one date-and-time field (accessible
// name "Time") with OK and Cancel, texts from the language.
#pragma once

#include <QDateTime>
#include <QDialog>

class QDateTimeEdit;

class CGoToTimeDlg : public QDialog {
  Q_OBJECT

 public:
  // A dialog starting at `start` (seconds shown, recorder clock as local time).
  CGoToTimeDlg(const QDateTime& start, QWidget* parent = nullptr);

  // The moment chosen.
  QDateTime Moment() const;
  QDateTimeEdit* Edit() const { return m_pEdit; }

 private:
  QDateTimeEdit* m_pEdit = nullptr;
};
