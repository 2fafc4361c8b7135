#pragma once
// The main form's dialogs on screen: QFileDialog, the settings dialogs, the
// transfer and progress dialogs, and the platform's document viewer. Each
// runs modally over the form. The file chooser and the document opener can
// be replaced (tests, scripted runs), so no real file dialog or viewer is
// needed to drive the form.
#include <QStringList>
#include <functional>

#include "view/CommandSeam.h"
#include "view/MainViewDialogs.h"

class QWidget;

namespace vrx4 {

struct AppState;

class CMainViewDialogs final : public MainViewDialogs {
 public:
  using FileChooser = std::function<std::optional<std::string>(const FileOpenRequest&)>;
  using DocumentOpener = std::function<bool(const std::string&)>;
  using SaveChooser = std::function<std::optional<std::string>(const FileDialogSpec&)>;
  using LoadConfirmer = std::function<bool(const std::string&)>;
  using EditorRunner = std::function<EditorOutcome(const EditorRequest&)>;

  explicit CMainViewDialogs(QWidget* parent) : parent_(parent) {}

  // Replaces QFileDialog (empty: QFileDialog again).
  void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  // Replace the save dialog, "Load OK ?" and the memory editor (empty: the
  // real dialogs again).
  void setSaveChooser(SaveChooser chooser) { saveChooser_ = std::move(chooser); }
  void setLoadConfirmer(LoadConfirmer confirmer) { confirmer_ = std::move(confirmer); }
  void setEditorRunner(EditorRunner runner) { editor_ = std::move(runner); }
  // Replaces the platform's viewer (empty: QDesktopServices again).
  void setDocumentOpener(DocumentOpener opener) { opener_ = std::move(opener); }

  // The Qt form of a filter such as "Data file (*.hex,*.mot)|*.hex;*.mot||":
  // "Data file (*.hex,*.mot) (*.hex *.mot)", one entry per pair.
  static QStringList qtFilters(const std::string& filter);

  std::optional<std::string> openFile(const FileOpenRequest& request) override;
  std::optional<CanSetting> canSetting(const CanSetting& current) override;
  std::optional<LockBitTable> blockSetting(const LockBitTable& current, const DeviceDef& device) override;
  std::optional<IdCode> setId(const IdCode& current) override;
  void deviceDetail(const DeviceDef& device) override;
  bool sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                 const std::string& filePath) override;
  bool fetchImage(ImageArea area, MemoryImage& image, const ProjectSettings& settings) override;
  OperationOutcome programming(int operationIndex, uint32_t total) override;
  void initializing() override;
  bool openDocument(const std::string& path) override;

  // The project's save dialog; the chosen path or nothing.
  std::optional<std::string> saveFile(const FileDialogSpec& request);
  // "Load OK ?" for a path; true on OK. With nobody to answer, the file is
  // not loaded.
  bool confirmLoad(const std::string& path);
  // The memory editor on the application's state.
  EditorOutcome runEditor(AppState& app, const EditorRequest& request);

 private:
  std::optional<std::string> runFileDialog(bool save, const std::string& title, const std::string& filter,
                                           const std::string& defaultExtension, const std::string& folder);

  QWidget* parent_;
  FileChooser chooser_;
  DocumentOpener opener_;
  SaveChooser saveChooser_;
  LoadConfirmer confirmer_;
  EditorRunner editor_;
};

}  // namespace vrx4
