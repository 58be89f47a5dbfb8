// The copy dialog: a copy job on a pooled thread, its progress on the user-interface thread.
#include "dialogcpfile.h"

#include <QLabel>
#include <QLocale>
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

// A path shown in a label that wraps: a line may break after each "/" (a zero-width space
// there), so a long path never runs out of the dialog.
QString Breakable(const std::string& path) {
  return QString::fromStdString(path).replace('/', QStringLiteral("/\u200b"));
}

// The system's reason at the end of an export error ("cannot write PATH: Read-only file system").
QString Reason(const std::string& error) {
  const size_t colon = error.rfind(": ");
  return QString::fromStdString(colon == std::string::npos ? error : error.substr(colon + 2));
}

}  // namespace

CDialogCpFile::CDialogCpFile(QWidget* parent)
    : QDialog(parent),
      m_pProgress(new QProgressBar(this)),
      m_pStatus(new QLabel(this)),
      m_pSummary(new QLabel(this)),
      m_pButton(new QPushButton("Cancel", this)) {
  setObjectName("134");
  setWindowTitle("CopyFile");
  m_pProgress->setObjectName("1003");
  m_pProgress->setMinimumWidth(360);
  m_pStatus->setObjectName("1006");
  m_pStatus->setWordWrap(true);
  m_pStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_pSummary->setObjectName("1007");
  m_pButton->setObjectName("2");
  auto* box = new QVBoxLayout(this);
  box->addWidget(m_pProgress);
  box->addWidget(m_pStatus);
  box->addWidget(m_pSummary);
  box->addWidget(m_pButton, 0, Qt::AlignRight);
  connect(m_pButton, &QPushButton::clicked, this, &CDialogCpFile::reject);
  CInitLanguage::Instance()->Translate(this);
  m_pStatus->clear();
  m_pSummary->hide();
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

QString CDialogCpFile::EndText(const CCopyOutcome& outcome) const {
  const CInitLanguage* language = CInitLanguage::Instance();
  QStringList lines;
  if (outcome.m_end == CCopyOutcome::endWriteFailed) {
    lines << language->GetString("CopyWriteFail") + " " + Breakable(outcome.m_strFailed)
          << Reason(outcome.m_strError);
  }
  if (outcome.m_nSkipped > 0) lines << language->GetString("CopySkipped") + " " + QString::number(outcome.m_nSkipped);
  if (!outcome.m_allZero.empty()) {
    lines << language->GetString("CopyAllZero");
    for (const std::string& path : outcome.m_allZero) lines << Breakable(path);
  }
  return lines.join('\n');
}

QString CDialogCpFile::SummaryText(const CCopyOutcome& outcome) const {
  const CInitLanguage* language = CInitLanguage::Instance();
  const QLocale numbers = language->Locale();
  const QString copied = numbers.toString(outcome.m_nCopied);
  if (outcome.m_end == CCopyOutcome::endDone)
    return language->GetString("CopySummary").arg(copied, numbers.toString(outcome.m_nSkipped));
  return language->GetString("CopyStopped").arg(copied, numbers.toString(qulonglong(m_job.m_paths.size())));
}

void CDialogCpFile::OnCopyEnded(const CCopyOutcome& outcome) {
  m_outcome = outcome;
  m_bFinished = true;
  // The dialog stays with what happened; its button now only closes it.
  m_pStatus->setText(EndText(outcome));
  m_pStatus->setAccessibleName(m_pStatus->text().remove(QChar(0x200b)));
  m_pSummary->setText(SummaryText(outcome));
  m_pSummary->show();
  m_pButton->setText(CInitLanguage::Instance()->GetString("Close"));
  adjustSize();  // grows to show every line
}

void CDialogCpFile::reject() {
  m_bCancel = true;
  WaitForWorker();
  QDialog::reject();
}

void CDialogCpFile::WaitForWorker() {
  m_timer.StopAndWait();
}
