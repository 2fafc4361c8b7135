#include "view/CMainViewDialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QStringList>
#include <QUrl>

#include "app/CQtPrompter.h"
#include "app/CUnitDialogs.h"
#include "base/DisplayText.h"
#include "base/Log.h"
#include "image/CLoadConfirmDlg.h"
#include "image/CTransferDlg.h"
#include "settings/CBlockSettingDlg.h"
#include "settings/CCanSettingDlg.h"
#include "settings/CDeviceDetailDlg.h"
#include "settings/CSetIdDlg.h"
#include "view/CMemoryEditDlg.h"
#include "view/CProgrammingDlg.h"

namespace vrx4 {

QStringList CMainViewDialogs::qtFilters(const std::string& filter) {
  // Pairs of "shown text|patterns", the list ended by an empty text.
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return out;
}

std::optional<std::string> CMainViewDialogs::runFileDialog(bool save, const std::string& title,
                                                           const std::string& filter,
                                                           const std::string& defaultExtension,
                                                           const std::string& folder) {
  QFileDialog dialog(parent_, QString::fromStdString(title), QString::fromStdString(folder));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The list shows the texts as given; the patterns stay behind them.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  // An existing file is overwritten without a question.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setNameFilters(qtFilters(filter));
  dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QDir::fromNativeSeparators(dialog.selectedFiles().first()).toStdString();
}

std::optional<std::string> CMainViewDialogs::openFile(const FileOpenRequest& request) {
  if (chooser_) return chooser_(request);
  return runFileDialog(false, request.title, request.filter, request.defaultExtension, request.initialDirectory);
}

std::optional<CanSetting> CMainViewDialogs::canSetting(const CanSetting& current) {
  CanSetting copy = current;
  CCanSettingDlg dialog(copy, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return copy;
}

std::optional<LockBitTable> CMainViewDialogs::blockSetting(const LockBitTable& current, const DeviceDef& device) {
  CBlockSettingDlg dialog(current, device, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  LockBitTable result = current;
  result.lockBitState = dialog.lockBitState();
  result.operationBlockMask = dialog.operationBlockMask();
  result.lockAfterProgramMask = dialog.lockAfterProgramMask();
  return result;
}

std::optional<IdCode> CMainViewDialogs::setId(const IdCode& current) {
  CSetIdDlg dialog(current, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.idCode();
}

void CMainViewDialogs::deviceDetail(const DeviceDef& device) {
  CDeviceDetailDlg dialog(device, parent_);
  dialog.exec();
}

bool CMainViewDialogs::sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                                 const std::string& filePath) {
  CSendImageDlg dialog(area, image, settings, filePath, parent_);
  return dialog.exec() == QDialog::Accepted;
}

bool CMainViewDialogs::fetchImage(ImageArea area, MemoryImage& image, const ProjectSettings& settings) {
  CFetchImageDlg dialog(area, image, settings, parent_);
  return dialog.exec() == QDialog::Accepted;
}

OperationOutcome CMainViewDialogs::programming(int operationIndex, uint32_t total) {
  CProgrammingDlg dialog(operationIndex, total, parent_);
  if (dialog.exec() != QDialog::Accepted) return {false, 0};
  return {true, dialog.resultCode()};
}

void CMainViewDialogs::initializing() {
  CInitializingDlg dialog(parent_);
  dialog.exec();
}

bool CMainViewDialogs::openDocument(const std::string& path) {
  if (opener_) return opener_(path);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

std::optional<std::string> CMainViewDialogs::saveFile(const FileDialogSpec& request) {
  if (saveChooser_) return saveChooser_(request);
  return runFileDialog(true, request.title, request.filter, request.defaultExtension, request.initialDirectory);
}

bool CMainViewDialogs::confirmLoad(const std::string& path) {
  if (confirmer_) return confirmer_(path);
  if (!CQtPrompter::operatorCanAnswer()) {
    logLine("\"Load OK ?\" for " + path + ": nobody to answer, not loaded");
    return false;
  }
  CLoadConfirmDlg dialog(QString::fromStdString(displayText(path)), parent_);
  return dialog.exec() == QDialog::Accepted;
}

EditorOutcome CMainViewDialogs::runEditor(AppState& app, const EditorRequest& request) {
  if (editor_) return editor_(request);
  return runMemoryEditor(app, request, parent_);
}

}  // namespace vrx4
