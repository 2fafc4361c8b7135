#include "view/CMainView.h"

#include <QTimer>

#include "app/AppState.h"
#include "app/CUnitDialogs.h"
#include "link/Commands.h"
#include "app/UnitCheck.h"
#include "view/FrameRules.h"

namespace vrx4 {

CMainView::CMainView(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
  setObjectName(QStringLiteral("mainView"));
  setAutoFillBackground(true);
}

bool CMainView::onInitialUpdate() {
  if (initialUpdateDone_) return state_.startupOk;
  initialUpdateDone_ = true;
  auto runUpdate = [this](const FirmwareImage& image) {
    CFirmwareUpdateDlg dialog(image, window());
    dialog.exec();
  };
  if (!checkConnection(state_, runUpdate)) {
    state_.startupOk = false;
    return false;
  }
  state_.startupOk = true;
  if (state_.reinitPending) QTimer::singleShot(0, this, [this] { runPendingReinit(); });
  return true;
}

bool CMainView::runPendingReinit() {
  if (!state_.reinitPending) return false;
  CInitializingDlg dialog(window());
  dialog.exec();
  InitialLoadData data;
  if (getInitialLoadData(data) == LoadDataResult::Ok) state_.initialLoad = data;
  state_.reinitPending = false;
  return true;
}

QSize CMainView::sizeHint() const { return QSize(kFrameWidth, kFrameHeight); }

}  // namespace vrx4
