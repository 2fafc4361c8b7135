#pragma once
// The main form inside the frame. Its first update runs the connection
// check; the program only goes on when that succeeds.
#include <QWidget>

namespace vrx4 {

struct AppState;

class CMainView : public QWidget {
  Q_OBJECT
 public:
  CMainView(AppState& state, QWidget* parent = nullptr);

  // The first update: runs the connection check and clears startupOk when it
  // fails. Returns whether the program goes on.
  bool onInitialUpdate();
  bool initialUpdateDone() const { return initialUpdateDone_; }

  // When the unit's stored settings were invalid or its firmware was just
  // updated: "Initializing..." resets them, then they are read again.
  // Queued by the first update to run once the window is up; returns
  // whether it ran.
  bool runPendingReinit();

  QSize sizeHint() const override;

 private:
  AppState& state_;
  bool initialUpdateDone_ = false;
};

}  // namespace vrx4
