#include "view/CMainView.h"

#include "app/AppState.h"
#include "app/ConnectionCheck.h"
#include "view/FrameRules.h"

namespace vrx4 {

CMainView::CMainView(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
  setObjectName(QStringLiteral("mainView"));
  setAutoFillBackground(true);
}

bool CMainView::onInitialUpdate() {
  if (initialUpdateDone_) return state_.startupOk;
  initialUpdateDone_ = true;
  if (!checkConnection(state_)) {
    state_.startupOk = false;
    return false;
  }
  state_.startupOk = true;
  return true;
}

QSize CMainView::sizeHint() const { return QSize(kFrameWidth, kFrameHeight); }

}  // namespace vrx4
