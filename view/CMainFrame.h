#pragma once
// The program's single top-level window. It sizes itself from the screen,
// shows the start-up picture when it is created, holds the menu bar and the
// main form, and ends the program when the unit disappears from the bus.
#include <QMainWindow>
#include <QRect>
#include <functional>

class QAction;
class QMenu;

namespace vrx4 {

class CMainView;
struct MainFormState;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  inline static const char* const kDisconnectedText = "T552-VRX4 is disconnected. \n Program will now terminate.";

  explicit CMainFrame(QWidget* parent = nullptr);

  // Finishes the window: size and style from the screen, then the start-up
  // picture over it.
  void create();
  // The same for a screen whose available area is given.
  void createFor(const QRect& available);
  void setView(CMainView* view);
  CMainView* view() const { return view_; }

  // Resizes the window (about its centre) so that the area below the menu
  // bar holds the form exactly. A maximized window keeps the whole screen.
  void fitToForm();

  // Shows the window as the screen asks: maximized on a screen of 800
  // pixels or less, else normally.
  void showAsCreated();
  bool opensMaximized() const { return maximized_; }
  // Where the window stands once shown.
  QRect plannedGeometry() const { return planned_; }

  // The document's name, shown after the program's title.
  void setDocumentName(const QString& name);

  // The menu entries.
  QMenu* projectMenu() const { return projectMenu_; }
  QMenu* editMenu() const { return editMenu_; }
  QMenu* helpMenu() const { return helpMenu_; }
  QAction* newAction() const { return new_; }
  QAction* openAction() const { return open_; }
  QAction* saveAsAction() const { return saveAs_; }
  QAction* exitAction() const { return exit_; }
  QAction* editUserRomAction() const { return editUserRom_; }
  // Null once the entry was removed (no boot area in the device table).
  QAction* editBootRomAction() const { return editBootRom_; }
  QAction* aboutAction() const { return about_; }
  QAction* manualAction() const { return manual_; }

  // "&User Rom Area..." follows the device selection; "&Boot Rom Area..."
  // goes for good when the table has no boot area.
  void applyMenuState(const MainFormState& s);

  // The exit command ("E&xit", and the end after a lost unit): ends the
  // application's event loop and every modal loop inside it, so the
  // program's exit steps run and no window stays behind.
  void exitProgram();
  // Ends the program with `status` as the process's exit status.
  void exitProgramWith(int status);
  bool exitRequested() const { return exitRequested_; }

  // Called for every device change. While the unit is present it returns
  // true and nothing happens; once it is gone it tells the operator, ends
  // the program and returns false. The message comes only once, however
  // many notifications follow.
  bool onDeviceChange();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();

  CMainView* view_ = nullptr;
  bool maximized_ = false;
  bool terminating_ = false;
  bool exitRequested_ = false;
  QRect planned_;
  QMenu* projectMenu_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QAction* new_ = nullptr;
  QAction* open_ = nullptr;
  QAction* saveAs_ = nullptr;
  QAction* exit_ = nullptr;
  QAction* editUserRom_ = nullptr;
  QAction* editBootRom_ = nullptr;
  QAction* about_ = nullptr;
  QAction* manual_ = nullptr;
};

}  // namespace vrx4
