#include "view/CMainFrame.h"

#include "base/CWorkerDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include "app/AppInfo.h"
#include "app/CSplashWindow.h"
#include "app/CommandLine.h"
#include "app/ProgramStop.h"
#include "base/Prompter.h"
#include "link/UsbLink.h"
#include "view/CMainView.h"
#include "view/FrameRules.h"
#include "view/MainFormState.h"

namespace vrx4 {

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("mainFrame"));
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  buildMenus();
}

void CMainFrame::buildMenus() {
  QMenuBar* bar = menuBar();
  projectMenu_ = bar->addMenu(QStringLiteral("&Project"));
  new_ = projectMenu_->addAction(QStringLiteral("&New"));
  // The text carries the accelerator's name after the tab, so the menu
  // shows it as written; the shortcut itself is the action's.
  open_ = projectMenu_->addAction(QStringLiteral("&Open...\tCtrl+O"));
  open_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  saveAs_ = projectMenu_->addAction(QStringLiteral("Save &As...\tCtrl+S"));
  saveAs_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  projectMenu_->addSeparator();
  exit_ = projectMenu_->addAction(QStringLiteral("E&xit"));
  connect(exit_, &QAction::triggered, this, &CMainFrame::exitProgram);

  editMenu_ = bar->addMenu(QStringLiteral("&Edit"));
  editUserRom_ = editMenu_->addAction(QStringLiteral("&User Rom Area..."));
  editUserRom_->setEnabled(false);  // no device yet
  editBootRom_ = editMenu_->addAction(QStringLiteral("&Boot Rom Area..."));

  helpMenu_ = bar->addMenu(QStringLiteral("&Help"));
  about_ = helpMenu_->addAction(QStringLiteral("&About T552-VRX4..."));
  manual_ = helpMenu_->addAction(QStringLiteral("&Manual"));
}

void CMainFrame::create() {
  QRect available(0, 0, 1024, 768);
  if (QScreen* s = QGuiApplication::primaryScreen()) available = s->availableGeometry();
  createFor(available);
}

void CMainFrame::createFor(const QRect& available) {
  maximized_ = frameOpensMaximized(available.width());
  if (maximized_) {
    planned_ = available;
  } else {
    // No maximize box on a screen that has room for the whole form.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    planned_ = QRect(available.x() + (available.width() - kFrameWidth) / 2,
                     available.y() + (available.height() - kFrameHeight) / 2, kFrameWidth, kFrameHeight);
  }
  setGeometry(planned_);
  CSplashWindow::showSplash(this);
}

void CMainFrame::setView(CMainView* view) {
  view_ = view;
  setCentralWidget(view);
}

void CMainFrame::fitToForm() {
  if (!view_ || maximized_) return;
  const QSize form = view_->formSize();
  const int menuHeight = menuBar()->heightForWidth(form.width());
  const QSize size(form.width(), form.height() + (menuHeight > 0 ? menuHeight : menuBar()->sizeHint().height()));
  QRect r(QPoint(0, 0), size);
  r.moveCenter(geometry().center());
  setGeometry(r);
}

void CMainFrame::showAsCreated() {
  if (maximized_)
    showMaximized();
  else
    show();
  repaint();
}

void CMainFrame::setDocumentName(const QString& name) {
  const QString title = QString::fromLatin1(kWindowTitle);
  setWindowTitle(name.isEmpty() ? title : name + QStringLiteral(" - ") + title);
}

void CMainFrame::applyMenuState(const MainFormState& s) {
  editUserRom_->setEnabled(s.editUserRomEnabled);
  if (!s.editBootRomPresent && editBootRom_) {
    editMenu_->removeAction(editBootRom_);
    delete editBootRom_;
    editBootRom_ = nullptr;
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  CSplashWindow::hideSplash();
  // Closed while a dialog runs (the session ending, the window manager):
  // a stop request, so that a running operation is aborted on the unit
  // and the exit steps follow.
  if (QApplication::activeModalWidget()) requestProgramStop("vrx4: the window was closed");
  QMainWindow::closeEvent(event);
}

void CMainFrame::exitProgram() { exitProgramWith(0); }

void CMainFrame::exitProgramWith(int status) {
  exitRequested_ = true;
  CSplashWindow::hideSplash();
  // Ends the main loop and every nested one (modal dialogs, message boxes);
  // loops started afterwards return at once until the main loop has ended.
  QCoreApplication::exit(status);
  hide();
}

bool CMainFrame::onDeviceChange() {
  if (terminating_) return false;
  if (isLinkAlive()) return true;
  terminating_ = true;
  showMessage(kDisconnectedText, Icon::Exclamation, Buttons::Ok);
  // Whatever progress dialog is open ends too (its worker told to stop
  // first), even one that waits for an Esc nobody will give. A run that
  // ended because the unit went away did not end well.
  CWorkerDialog::stopOpenDialogs();
  exitProgramWith(kUnitLostExitStatus);
  return false;
}

}  // namespace vrx4
