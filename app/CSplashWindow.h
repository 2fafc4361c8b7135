#pragma once
// The start-up picture: a borderless 378 x 237 window centred over the main
// window. It goes after three seconds, at the first key or mouse-button
// press anywhere in the program (which it consumes), or when a start-up
// message is about to be shown. At most one exists, and only once per run.
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QEvent;

namespace vrx4 {

inline constexpr int kSplashWidth = 378;
inline constexpr int kSplashHeight = 237;
inline constexpr int kSplashDisplayMs = 3000;

class CSplashWindow final : public QWidget {
  Q_OBJECT
 public:
  // Set once from the command line: false after "Embedding" or "Automation".
  static void setSplashEnabled(bool enabled);
  static bool splashEnabled();

  // Shows the picture over `mainWindow` unless pictures are off or one is
  // already up; also starts watching the program's input for the press that
  // removes it. Returns the window, or null when none is shown.
  static CSplashWindow* showSplash(QWidget* mainWindow);
  // The picture now up, or null.
  static CSplashWindow* current();
  // Removes the picture (if any) and repaints the main window at once.
  static void hideSplash();

  // The picture itself: the program's name on a coloured background.
  static QPixmap makePicture();

  // The display timer (single shot, kSplashDisplayMs). Tests may shorten it
  // or call onTimer() directly instead of waiting.
  QTimer& displayTimer() { return timer_; }

 public slots:
  // The display time is over: the picture goes.
  void onTimer();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CSplashWindow(const QPixmap& picture, QWidget* mainWindow);
  ~CSplashWindow() override;

  QPixmap picture_;
  QPointer<QWidget> mainWindow_;
  QTimer timer_;
};

// Offered every event the program dispatches while the picture is up: a key
// press or a left, right or middle mouse-button press (inside or outside a
// window's client area) removes the picture and is consumed (true). Other
// events, or any event while no picture is up, are not (false).
bool hideSplashOnInput(QEvent* event);

}  // namespace vrx4
