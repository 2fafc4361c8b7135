#include "view/CMainFrame.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/AppInfo.h"
#include "app/CSplashWindow.h"
#include "base/Prompter.h"
#include "link/UsbLink.h"
#include "view/CMainView.h"
#include "view/FrameRules.h"

namespace vrx4 {

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("mainFrame"));
  setWindowTitle(QString::fromLatin1(kWindowTitle));
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
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    planned_ = QRect(available.x() + (available.width() - kFrameWidth) / 2,
                     available.y() + (available.height() - kFrameHeight) / 2, kFrameWidth,
                     kFrameHeight);
  }
  setGeometry(planned_);
  CSplashWindow::showSplash(this);
}

void CMainFrame::setView(CMainView* view) {
  view_ = view;
  setCentralWidget(view);
}

void CMainFrame::showAsCreated() {
  if (maximized_)
    showMaximized();
  else
    show();
  repaint();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  CSplashWindow::hideSplash();
  QMainWindow::closeEvent(event);
}

bool CMainFrame::onDeviceChange() {
  if (terminating_) return false;
  if (isLinkAlive()) return true;
  terminating_ = true;
  showMessage(kDisconnectedText, Icon::Exclamation, Buttons::Ok);
  close();
  return false;
}

}  // namespace vrx4
