// Writes a picture of the main window at start-up, with the start-up picture
// over it, to the file named on the command line. Runs offscreen.
#include <QApplication>
#include <QPainter>
#include <QPixmap>

#include "app/AppInfo.h"
#include "app/CSplashWindow.h"
#include "view/CMainFrame.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  vrx4::CMainFrame frame;
  frame.create();
  frame.setCentralWidget(new QWidget);
  frame.showAsCreated();
  frame.setWindowTitle(QString::fromLatin1(vrx4::kWindowTitle));
  QApplication::processEvents();

  QPixmap shot = frame.grab();
  if (vrx4::CSplashWindow* splash = vrx4::CSplashWindow::current()) {
    QPainter p(&shot);
    p.drawPixmap(splash->geometry().topLeft() - frame.geometry().topLeft(), splash->grab());
  }
  return shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
