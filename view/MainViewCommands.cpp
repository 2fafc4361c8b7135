#include "view/MainViewCommands.h"

#include "view/EditCommands.h"
#include "view/ProjectCommands.h"

namespace vrx4 {

CommandViewFields fieldsOf(const MainViewModel& m) {
  CommandViewFields f;
  f.operationIndex = m.operationIndex;
  f.preSending = m.preSending;
  f.postSending = m.postSending;
  f.userReadBackPending = m.userReadBackPending;
  return f;
}

void storeFields(MainViewModel& m, const CommandViewFields& f) {
  m.operationIndex = f.operationIndex;
  m.preSending = f.preSending;
  m.postSending = f.postSending;
  m.userReadBackPending = f.userReadBackPending;
}

namespace {

CommandDialogs dialogsFor(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra) {
  CommandDialogs d;
  d.fileDialog = [&model, &dialogs, extra](const FileDialogSpec& choice) -> std::optional<std::string> {
    (void)model;
    if (choice.save) return extra.saveFile ? extra.saveFile(choice) : std::nullopt;
    FileOpenRequest r;
    r.title = choice.title;
    r.filter = choice.filter;
    r.defaultExtension = choice.defaultExtension;
    r.initialDirectory = choice.initialDirectory;
    return dialogs.openFile(r);
  };
  d.confirmLoad = extra.confirmLoad;
  d.runEditor = extra.runEditor;
  d.sendImage = [&model, &dialogs](ImageArea area, const std::string& path) {
    return dialogs.sendImage(area, *model.state().image, model.state().settings, path);
  };
  d.fetchImage = [&model, &dialogs](ImageArea area) {
    return dialogs.fetchImage(area, *model.state().image, model.state().settings);
  };
  return d;
}

// The routines see the command's view fields: they are stored into the
// model before any routine that reads them runs.
MainViewRoutines routinesFor(MainViewModel& model, CommandViewFields& fields) {
  MainViewRoutines r;
  r.selectDevice = [&model](int index) { model.SelectDevice(index); };
  r.refreshAfterOpen = [&model, &fields] {
    storeFields(model, fields);
    model.RefreshDeviceDisplay();
    model.RefreshCanDisplay();
    model.RefreshLockDisplay();
    model.RefreshAllFileDisplay();
  };
  r.sendAllSettings = [&model, &fields] {
    storeFields(model, fields);
    return model.SendAllSettings();
  };
  r.refreshOperationButtons = [&model, &fields] {
    storeFields(model, fields);
    model.RefreshOperationButtons();
    fields = fieldsOf(model);
  };
  r.showEditedUserFile = [&model](bool cleared) {
    if (cleared)
      model.ClearUserFileSums();
    else
      model.RefreshUserFileDisplay();
  };
  r.showBootLoader = [&model] { model.RefreshAllFileDisplay(); };
  r.userFileNotInUnit = [&model, &fields](const std::string& path) {
    storeFields(model, fields);
    model.UserFileNotInUnit(path);
    fields = fieldsOf(model);
  };
  return r;
}

}  // namespace

EditorOutcome OnEditUserRom(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra) {
  CommandViewFields fields = fieldsOf(model);
  const EditorOutcome out =
      OnEditUserRom(model.state(), fields, dialogsFor(model, dialogs, extra), routinesFor(model, fields));
  storeFields(model, fields);
  return out;
}

EditorOutcome OnEditBootRom(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra) {
  CommandViewFields fields = fieldsOf(model);
  return OnEditBootRom(model.state(), dialogsFor(model, dialogs, extra), routinesFor(model, fields));
}

bool OnProjectOpen(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra) {
  CommandViewFields fields = fieldsOf(model);
  const bool ok = OnProjectOpen(model.state(), fields, dialogsFor(model, dialogs, extra), routinesFor(model, fields));
  storeFields(model, fields);
  return ok;
}

bool OnProjectSaveAs(MainViewModel& model, MainViewDialogs& dialogs, const EditorProjectDialogs& extra) {
  CommandViewFields fields = fieldsOf(model);
  return OnProjectSaveAs(model.state(), fields, dialogsFor(model, dialogs, extra), routinesFor(model, fields));
}

}  // namespace vrx4
