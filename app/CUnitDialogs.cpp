#include "app/CUnitDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QVBoxLayout>

#include "base/DisplayText.h"
#include "base/Log.h"
#include "base/Prompter.h"
#include "link/Commands.h"

namespace vrx4 {

CFirmwareUpdateDlg::CFirmwareUpdateDlg(const FirmwareImage& image, QWidget* parent)
    : CWorkerDialog(parent), image_(image) {
  setWindowTitle(QStringLiteral("Update..."));
  buildLayout(false, false);
  progressBar()->setRange(0, int(kUpdateTotal));
}

int CFirmwareUpdateDlg::exec() {
  progress_ = 0;
  progressBar()->setValue(0);
  startTimer100();
  startWorker([this] { updateWorker(image_, progress_); });
  return CWorkerDialog::exec();
}

void CFirmwareUpdateDlg::onTick() {
  const uint32_t p = progress_;
  progressBar()->setValue(int(std::min(p, kUpdateTotal)));
  if (p == kUpdateTotal)
    finish(true);
  else if (p > kUpdateTotal)
    finish(false);
}

CInitializingDlg::CInitializingDlg(QWidget* parent) : CWorkerDialog(parent) {
  setWindowTitle(QStringLiteral("Initializing..."));
  buildLayout(false, false);
  progressBar()->setRange(0, 100);
}

int CInitializingDlg::exec() {
  counter_ = 0;
  polls_ = 0;
  progressBar()->setValue(0);
  sent_ = initializeUnit();
  // Without the reset there is nothing to wait for: the dialog stays until
  // the operator dismisses it.
  if (sent_) startTimer100();
  return CWorkerDialog::exec();
}

void CInitializingDlg::onTick() {
  if (counter_ < 100) {
    ++counter_;
    progressBar()->setValue(counter_);
    if (counter_ < 100) return;
  }
  // At 100 the unit's busy state is polled, one request per tick (100 ms
  // apart), so the GUI thread never waits on the unit.
  // A failing poll shows its message box, whose loop goes on firing this
  // timer: no second poll (and second box) may start inside the first.
  if (polling_) return;
  polling_ = true;
  bool busy = false;
  const bool ok = getBusyState(busy);
  polling_ = false;
  if (!ok) {
    finish(false);
  } else if (!busy) {
    finish(true);
  } else if (++polls_ >= busyPollLimit_) {
    polling_ = true;  // no poll while the message is up
    logLine("Initializing...: the unit was still busy after " + std::to_string(polls_) + " polls");
    showMessage(kStillBusyText, Icon::Stop);
    polling_ = false;
    finish(false);
  }
}

void CInitializingDlg::onCancelRequest() {
  if (!sent_) finish(false);
}

CAboutDlg::CAboutDlg(const std::string& hostVersion, const std::string& firmwareVersionCollapsed,
                     const std::string& firmwareDate, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("About T552-VRX4"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  // The versions and the date come from the unit: shown escaped.
  auto field = [this](const std::string& text) {
    auto* e = new QLineEdit(QString::fromStdString(displayText(text)), this);
    e->setReadOnly(true);
    e->setMinimumWidth(220);
    return e;
  };
  form->addRow(QStringLiteral("Control Software Version :"), field(hostVersion));
  form->addRow(QStringLiteral("Firmware Version :"), field(firmwareText(firmwareVersionCollapsed, firmwareDate)));
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

std::string CAboutDlg::firmwareText(const std::string& versionCollapsed, const std::string& date) {
  return versionCollapsed + " " + date;
}

}  // namespace vrx4
