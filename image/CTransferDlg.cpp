#include "image/CTransferDlg.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "base/DisplayText.h"

namespace vrx4 {
namespace {

void showPosition(QProgressBar* bar, uint32_t position) {
  bar->setValue(int(std::min<uint32_t>(position, uint32_t(bar->maximum()))));
}

}  // namespace

CSendImageDlg::CSendImageDlg(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                             const std::string& filePath, QWidget* parent)
    : CWorkerDialog(parent), area_(area), image_(image), settings_(settings) {
  setWindowTitle(QStringLiteral("Loading..."));
  buildLayout(true, true);
  cancelButton()->hide();
  if (!filePath.empty())
    textLine()->setText(
        QString::fromStdString(displayText(QFileInfo(QString::fromStdString(filePath)).fileName().toStdString())));
  plan_ = prepareSend(progress_, area_, image_, settings_);
  progressBar()->setRange(0, int(std::min<uint32_t>(progress_.maximum, INT32_MAX)));
  progressBar()->setValue(0);
}

int CSendImageDlg::exec() {
  startTimer100();
  startWorker([this] { sendImageWorker(progress_, plan_, image_, settings_); });
  return CWorkerDialog::exec();
}

void CSendImageDlg::onTick() { showPosition(progressBar(), progress_.position); }

void CSendImageDlg::onWorkerDone() {
  onTick();
  finish(!progress_.abandoned());
}

CFetchImageDlg::CFetchImageDlg(ImageArea area, MemoryImage& image, const ProjectSettings& settings, QWidget* parent)
    : CWorkerDialog(parent), area_(area), image_(image), settings_(settings) {
  setWindowTitle(QStringLiteral("Saving..."));
  buildLayout(false, true);
  cancelButton()->hide();
  prepareFetch(progress_, area_, settings_);
  progressBar()->setRange(0, int(std::min<uint32_t>(progress_.maximum, INT32_MAX)));
  progressBar()->setValue(0);
}

int CFetchImageDlg::exec() {
  startTimer100();
  startWorker([this] { fetchImageWorker(progress_, area_, image_, settings_); });
  return CWorkerDialog::exec();
}

void CFetchImageDlg::onTick() { showPosition(progressBar(), progress_.position); }

void CFetchImageDlg::onWorkerDone() {
  onTick();
  finish(!progress_.abandoned());
}

}  // namespace vrx4
