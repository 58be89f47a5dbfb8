// CDialogCpFile -- runs a copy job (copyjob.h) on a worker thread while it shows the progress.
//
// The dialog holds a progress bar (1003) running from 0 to the job's total KB, a status text
// (1006) "done/total KB", and Cancel (2). The job starts on a pooled thread of the runtime
// library (a one-shot CTimer) when the dialog is first shown. The worker touches no widget:
// its progress and its end reach the dialog as queued calls carrying values.
//
// Every job ends with a one-line summary (1007) in the language's number format: "CopySummary"
// ("2,951 copied, 0 skipped") when it ran to its end, "CopyStopped" ("stopped: 1,089 of 2,951
// copied") when it was cancelled or failed; the dialog stays open with it and Cancel (2)
// becomes "Close". A job that skipped unreadable recordings says "CopySkipped" and their
// number; a target that could not be made or written stops the job and the dialog says
// "CopyWriteFail", the file's path (wrapped at its folders) and the system's reason
// ("Read-only file system"). Recordings copied whose bytes all read as zero are named after
// "CopyAllZero". Cancel, Escape or closing the window stop the job after the block in
// progress; the dialog waits for the worker before it goes, and the recording in progress
// leaves no file behind.
#pragma once

#include <QDialog>

#include <atomic>

#include <infra/timer.h>

#include "copyjob.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CDialogCpFile : public QDialog {
  Q_OBJECT

 public:
  // parent may be null.
  explicit CDialogCpFile(QWidget* parent = nullptr);
  // Stops the job and waits for the worker.
  ~CDialogCpFile() override;

  // Takes a copy of the job and clears the cancel flag; the job runs once the dialog is shown.
  // Call before exec().
  void SetJob(const CCopyJob& job);

  // How the last run ended (valid once Finished() is true).
  const CCopyOutcome& Outcome() const { return m_outcome; }
  // True once the worker has reported its end to the dialog.
  bool Finished() const { return m_bFinished; }

  // Cancel (2), Escape, closing: sets the cancel flag, waits for the worker, ends the dialog.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The worker (timer callback on a pooled thread).
  void CopyFiles(uint32_t);
  // On the user-interface thread: the worker's news.
  void OnProgress(quint64 doneKB, quint64 totalKB);
  void OnCopyEnded(const CCopyOutcome& outcome);
  // The texts of an ended job: what went wrong or was noticed (1006), and the summary (1007).
  QString EndText(const CCopyOutcome& outcome) const;
  QString SummaryText(const CCopyOutcome& outcome) const;
  // Takes the timer out of the schedule and waits until a run in progress has returned.
  void WaitForWorker();

  CCopyJob m_job;                    // the job (a copy); the worker reads it while it runs
  infra::CTimer m_timer{"NoName"};   // runs CopyFiles once
  std::atomic<bool> m_bCancel{false};
  bool m_bStarted = false;           // the timer was started (user-interface thread)
  bool m_bFinished = false;          // the end has been reported (user-interface thread)
  CCopyOutcome m_outcome;            // user-interface thread
  QProgressBar* m_pProgress;         // 1003
  QLabel* m_pStatus;                 // 1006
  QLabel* m_pSummary;                // 1007
  QPushButton* m_pButton;            // 2: Cancel, Close once the job has ended
};
