#include "app/CQtPrompter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include "base/DisplayText.h"
#include "base/Log.h"
#include "base/StopRequest.h"

namespace vrx4 {

Answer runMessageBox(const Prompt& p) {
  QMessageBox box;
  box.setWindowTitle(QString::fromStdString(p.caption.empty() ? kProgramCaption : p.caption));
  // Plain text, escaped: a name from a file never turns into markup or
  // control characters in the box.
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(displayMessage(p.text)));
  switch (p.icon) {
    case Icon::Stop:
      box.setIcon(QMessageBox::Critical);
      break;
    case Icon::Exclamation:
    case Icon::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case Icon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case Icon::Question:
      box.setIcon(QMessageBox::Question);
      break;
  }
  QMessageBox::StandardButtons buttons;
  switch (p.buttons) {
    case Buttons::Ok:
      buttons = QMessageBox::Ok;
      break;
    case Buttons::OkCancel:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case Buttons::YesNo:
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
    case Buttons::YesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
  }
  box.setStandardButtons(buttons);
  auto toStd = [](Answer a) {
    switch (a) {
      case Answer::Ok:
        return QMessageBox::Ok;
      case Answer::Cancel:
        return QMessageBox::Cancel;
      case Answer::Yes:
        return QMessageBox::Yes;
      case Answer::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
  };
  box.setDefaultButton(toStd(p.defaultButton));
  if (p.buttons != Buttons::Ok && p.buttons != Buttons::YesNo) box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return Answer::Cancel;
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    case QMessageBox::Ok:
      return Answer::Ok;
    default:
      // Closed without a button (Esc on a box without Cancel).
      return p.buttons == Buttons::YesNo ? Answer::No : p.buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
  }
}

bool CQtPrompter::operatorCanAnswer() {
  const QString platform = QGuiApplication::platformName();
  return !platform.isEmpty() && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

Answer CQtPrompter::ask(const Prompt& prompt) {
  if (!operatorPresent_ || stopRequestRaised()) {
    // The text itself has been logged already; a question also says what it
    // was taken to answer, so that a script's log shows why nothing happened.
    const Answer answer = safeAnswer(prompt.buttons);
    if (prompt.buttons != Buttons::Ok)
      logProgramLine(std::string(operatorPresent_ ? "the program is stopping" : "no operator to answer") +
                     "; taken as " + answerName(answer));
    return answer;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) return runMessageBox(prompt);
  Answer answer = prompt.defaultButton;
  QMetaObject::invokeMethod(
      app, [&] { answer = runMessageBox(prompt); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace vrx4
