#pragma once
// The editor and project commands on the main form's model: its
// SelectDevice, display routines and SendAllSettings, its window seam for
// the open and transfer dialogs, and the few dialogs that seam lacks.
#include "view/CommandSeam.h"
#include "view/MainViewModel.h"

namespace vrx4 {

struct EditorProjectDialogs {
  // The project "Save As" dialog; the chosen path or nothing.
  std::function<std::optional<std::string>(const FileDialogSpec&)> saveFile;
  // "Load OK ?" for a path.
  std::function<bool(const std::string& path)> confirmLoad;
  // The memory editor.
  std::function<EditorOutcome(const EditorRequest&)> runEditor;
};

// The form's fields the editor and project commands read and change, taken
// from the model and stored back into it.
CommandViewFields fieldsOf(const MainViewModel& model);
void storeFields(MainViewModel& model, const CommandViewFields& fields);

EditorOutcome OnEditUserRom(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra);
EditorOutcome OnEditBootRom(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra);
bool OnProjectOpen(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra);
bool OnProjectSaveAs(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra);

}  // namespace vrx4
