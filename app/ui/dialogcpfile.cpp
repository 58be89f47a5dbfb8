// The copy dialog: a copy job on a pooled thread, its progress on the user-interface thread.
#include "dialogcpfile.h"

#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>

#include <infra/callback.h>

#include "initlanguage.h"

namespace {

// The progress bar's range is an int: a larger total is scaled down.
int BarValue(quint64 kb, quint64 totalKB) {
  if (totalKB <= quint64(INT_MAX)) return int(kb);
  return int(kb / (totalKB / quint64(INT_MAX) + 1));
}

}  // namespace

CDialogCpFile::CDialogCpFile(QWidget* parent)
    : QDialog(parent), m_pProgress(new QProgressBar(this)), m_pStatus(new QLabel(this)) {
  setObjectName("134");
  setWindowTitle("CopyFile");
  m_pProgress->setObjectName("1003");
  m_pProgress->setMinimumWidth(360);
  m_pStatus->setObjectName("1006");
  m_pStatus->setWordWrap(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("2");
  auto* box = new QVBoxLayout(this);
  box->addWidget(m_pProgress);
  box->addWidget(m_pStatus);
  box->addWidget(cancel, 0, Qt::AlignRight);
  connect(cancel, &QPushButton::clicked, this, &CDialogCpFile::reject);
  CInitLanguage::Instance()->Translate(this);
  m_pStatus->clear();
}

CDialogCpFile::~CDialogCpFile() {
  m_bCancel = true;
  WaitForWorker();
}

void CDialogCpFile::SetJob(const CCopyJob& job) {
  m_job = job;
  m_bCancel = false;
  m_bFinished = false;
  const quint64 total = m_job.TotalKB();
  // An empty range would draw a busy bar: a job of 0 KB shows an empty bar of one step.
  m_pProgress->setRange(0, total == 0 ? 1 : BarValue(total, total));
  m_pProgress->setValue(0);
  m_pStatus->setText(QString("0/%1 KB").arg(total));
}

void CDialogCpFile::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_bStarted) return;
  m_bStarted = true;
  m_timer.Start(infra::Callback::Member<&CDialogCpFile::CopyFiles>(this), 0, 0, 0, 0);
}

void CDialogCpFile::CopyFiles(uint32_t) {
  const CCopyOutcome outcome = RunCopyJob(m_job, m_bCancel, [this](uint64_t done, uint64_t total) {
    QMetaObject::invokeMethod(this, [this, done, total] { OnProgress(done, total); }, Qt::QueuedConnection);
  });
  QMetaObject::invokeMethod(this, [this, outcome] { OnCopyEnded(outcome); }, Qt::QueuedConnection);
}

void CDialogCpFile::OnProgress(quint64 doneKB, quint64 totalKB) {
  if (m_bFinished) return;
  m_pProgress->setValue(BarValue(std::min(doneKB, totalKB), totalKB));
  m_pStatus->setText(QString("%1/%2 KB").arg(doneKB).arg(totalKB));
}

void CDialogCpFile::OnCopyEnded(const CCopyOutcome& outcome) {
  m_outcome = outcome;
  m_bFinished = true;
  const CInitLanguage* language = CInitLanguage::Instance();
  switch (outcome.m_end) {
    case CCopyOutcome::endWriteFailed:
      m_pStatus->setText(language->GetString("CopyWriteFail") + " " + QString::fromStdString(outcome.m_strFailed));
      return;
    case CCopyOutcome::endCancelled:
      return;
    case CCopyOutcome::endDone:
      if (outcome.m_nSkipped > 0) {
        m_pStatus->setText(language->GetString("CopySkipped") + " " + QString::number(outcome.m_nSkipped));
        return;
      }
      accept();
      return;
  }
}

void CDialogCpFile::reject() {
  m_bCancel = true;
  WaitForWorker();
  QDialog::reject();
}

void CDialogCpFile::WaitForWorker() {
  m_timer.StopAndWait();
}
