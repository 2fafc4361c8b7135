#include "app/CSplashWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>

#include "base/StartupMessage.h"

namespace vrx4 {
namespace {

bool enabled = true;
CSplashWindow* currentWindow = nullptr;

// Sees every event of the program while a picture is up.
class SplashInputFilter final : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    // A key press first asks whether a shortcut wants it; claim it, so that
    // the key press itself arrives here and only removes the picture.
    if (event->type() == QEvent::ShortcutOverride && currentWindow) {
      event->accept();
      return true;
    }
    return hideSplashOnInput(event);
  }
};

SplashInputFilter* inputFilter() {
  static SplashInputFilter* filter = new SplashInputFilter;
  return filter;
}

bool isRemovingButton(Qt::MouseButton b) {
  return b == Qt::LeftButton || b == Qt::RightButton || b == Qt::MiddleButton;
}

// The start-up messages hide the picture as a key press would.
void hideAsKeyPress() {
  auto hide = [] {
    QKeyEvent keyDown(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier);
    hideSplashOnInput(&keyDown);
  };
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread())
    hide();
  else
    QMetaObject::invokeMethod(app, hide, Qt::BlockingQueuedConnection);
}

}  // namespace

void CSplashWindow::setSplashEnabled(bool on) { enabled = on; }
bool CSplashWindow::splashEnabled() { return enabled; }
CSplashWindow* CSplashWindow::current() { return currentWindow; }

QPixmap CSplashWindow::makePicture() {
  QPixmap pixmap(kSplashWidth, kSplashHeight);
  if (pixmap.isNull()) return pixmap;
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 0, kSplashHeight);
  background.setColorAt(0.0, QColor(0x10, 0x3C, 0x78));
  background.setColorAt(1.0, QColor(0x06, 0x1A, 0x3A));
  p.fillRect(pixmap.rect(), background);
  // A band in the maker's colour behind the model name.
  p.fillRect(QRect(0, 70, kSplashWidth, 64), QColor(0xE0, 0x8A, 0x1C));
  p.setPen(QColor(0xFF, 0xFF, 0xFF));

  QFont model = p.font();
  model.setBold(true);
  model.setPixelSize(44);
  p.setFont(model);
  p.drawText(QRect(0, 70, kSplashWidth, 64), Qt::AlignCenter, QStringLiteral("T552-VRX4"));

  QFont line = p.font();
  line.setBold(false);
  line.setPixelSize(17);
  p.setFont(line);
  p.drawText(QRect(0, 24, kSplashWidth, 36), Qt::AlignCenter, QStringLiteral("CAN Flash Programmer"));
  line.setPixelSize(12);
  p.setFont(line);
  p.setPen(QColor(0xC8, 0xD6, 0xEC));
  p.drawText(QRect(0, 150, kSplashWidth, 24), Qt::AlignCenter, QStringLiteral("Control Software Ver.1.11"));
  p.drawText(QRect(0, 200, kSplashWidth - 14, 24), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Velmora Inc."));
  p.setPen(QPen(QColor(0xE0, 0x8A, 0x1C), 2));
  p.drawRect(QRectF(1, 1, kSplashWidth - 2, kSplashHeight - 2));
  return pixmap;
}

CSplashWindow::CSplashWindow(const QPixmap& picture, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      picture_(picture),
      mainWindow_(mainWindow) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Keys keep going to the main window, where the program sees them.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setCursor(Qt::ArrowCursor);
  setFixedSize(picture_.size());
  // Centred over the main window (which may not be shown yet, but already
  // has its place), or over the screen without one.
  QRect over = mainWindow ? mainWindow->frameGeometry() : QRect();
  if (!over.isValid() || over.isEmpty()) {
    if (QScreen* s = QGuiApplication::primaryScreen()) over = s->availableGeometry();
  }
  move(over.x() + (over.width() - width()) / 2, over.y() + (over.height() - height()) / 2);
  timer_.setSingleShot(true);
  timer_.setInterval(kSplashDisplayMs);
  connect(&timer_, &QTimer::timeout, this, &CSplashWindow::onTimer);
  currentWindow = this;
}

CSplashWindow::~CSplashWindow() {
  if (currentWindow == this) currentWindow = nullptr;
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(inputFilter());
}

CSplashWindow* CSplashWindow::showSplash(QWidget* mainWindow) {
  if (!enabled || currentWindow) return nullptr;
  const QPixmap picture = makePicture();
  if (picture.isNull()) return nullptr;  // no picture: start without one
  auto* w = new CSplashWindow(picture, mainWindow);
  setSplashHider(hideAsKeyPress);
  qApp->installEventFilter(inputFilter());
  w->show();
  w->repaint();  // painted at once: the start-up checks keep the loop busy
  w->timer_.start();
  return w;
}

void CSplashWindow::hideSplash() {
  CSplashWindow* w = currentWindow;
  if (!w) return;
  QPointer<QWidget> mainWindow = w->mainWindow_;
  currentWindow = nullptr;
  qApp->removeEventFilter(inputFilter());
  w->hide();
  w->deleteLater();
  if (mainWindow && mainWindow->isVisible()) {
    // The keyboard goes back to the main window, as it does when an owned
    // window is destroyed.
    mainWindow->activateWindow();
    mainWindow->repaint();
  }
}

void CSplashWindow::onTimer() {
  if (currentWindow == this) hideSplash();
}

void CSplashWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, picture_);
}

bool hideSplashOnInput(QEvent* event) {
  if (!currentWindow || !event) return false;
  switch (event->type()) {
    case QEvent::KeyPress:
      break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
      if (!isRemovingButton(static_cast<QMouseEvent*>(event)->button())) return false;
      break;
    default:
      return false;
  }
  CSplashWindow::hideSplash();
  return true;
}

}  // namespace vrx4
