#pragma once
// The program's single top-level window. It sizes itself from the screen,
// shows the start-up picture when it is created, holds the main form and
// ends the program when the unit disappears from the bus.
#include <QMainWindow>
#include <QRect>

namespace vrx4 {

class CMainView;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  inline static const char* const kDisconnectedText =
      "T552-VRX4 is disconnected. \n Program will now terminate.";

  explicit CMainFrame(QWidget* parent = nullptr);

  // Finishes the window: size and style from the screen, then the start-up
  // picture over it.
  void create();
  // The same for a screen whose available area is given.
  void createFor(const QRect& available);
  void setView(CMainView* view);
  CMainView* view() const { return view_; }

  // Shows the window as the screen asks: maximized on a screen of 800
  // pixels or less, else normally.
  void showAsCreated();
  bool opensMaximized() const { return maximized_; }
  // Where the window stands once shown.
  QRect plannedGeometry() const { return planned_; }

  // Called for every device change. While the unit is present it returns
  // true and nothing happens; once it is gone it tells the operator, closes
  // the window (which ends the program) and returns false. The message comes
  // only once, however many notifications follow.
  bool onDeviceChange();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CMainView* view_ = nullptr;
  bool maximized_ = false;
  bool terminating_ = false;
  QRect planned_;
};

}  // namespace vrx4
