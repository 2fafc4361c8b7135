#pragma once
// Base of the modal progress dialogs: one worker thread that talks to the
// unit, a periodic timer that shows the shared progress value, and a done
// notification queued to the GUI thread as the worker's last act. The dialog
// ends only when its subclass says so; Esc and the close box go to
// onCancelRequest().
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

class QProgressBar;
class QLabel;
class QPushButton;

namespace vrx4 {

class CWorkerDialog : public QDialog {
 public:
  explicit CWorkerDialog(QWidget* parent = nullptr);
  ~CWorkerDialog() override;

  // Runs the dialog; when its loop was ended from outside (the program
  // quitting) while the worker still runs, keeps serving the worker's
  // queued calls (its message boxes) until it has finished. A dialog opened
  // after a stop request ends at once with Rejected.
  int exec() override;

  // A stop request for the whole program (a signal, a lost unit): every
  // open dialog tells its worker to stop as its Esc would, waits for it to
  // end and ends with Rejected; dialogs opened later end at once. GUI thread.
  static void stopAll();
  // The same for the dialogs open now only (the program ends through its
  // own exit, as after a lost unit).
  static void stopOpenDialogs();
  static bool stopRequested();
  // For tests that run several programs in one process.
  static void clearStopRequest();

  // Period of the progress timer of every such dialog (100 ms). Tests may
  // shorten it; the worker's own waits go through the Clock.
  static int timerIntervalMs();
  static void setTimerIntervalMs(int ms);

  QProgressBar* progressBar() const { return bar_; }
  QPushButton* cancelButton() const { return cancel_; }
  QLabel* textLine() const { return text_; }

  // One timer tick (also called by the timer).
  void tick() { onTick(); }

 protected:
  // Builds the standard layout: an optional text line, the bar and a Cancel
  // button (hidden by the subclasses that have none).
  void buildLayout(bool withTextLine, bool withCancel);
  void startTimer100();
  void stopTimer() { timer_.stop(); }
  // Runs work on the worker thread, then onWorkerDone() on the GUI thread.
  void startWorker(std::function<void()> work);

  virtual void onTick() {}
  virtual void onWorkerDone() {}
  virtual void onCancelRequest() {}
  // What a stop request tells the worker; by default what Esc tells it.
  // The dialog ends once the worker has ended, however this answers.
  virtual void onStopRequest() { onCancelRequest(); }

  void reject() override { onCancelRequest(); }
  void closeEvent(QCloseEvent* e) override;
  // The dialog's own way out: ends with QDialog::Accepted or Rejected.
  void finish(bool ok);

 private:
  QTimer timer_;
  std::thread worker_;
  std::atomic<bool> workerDone_{true};
  QProgressBar* bar_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QLabel* text_ = nullptr;
  bool finishing_ = false;
  bool stopping_ = false;
  bool inLoop_ = false;

  void requestStop();
};

}  // namespace vrx4
