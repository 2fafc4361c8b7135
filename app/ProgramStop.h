#pragma once
// The one way a stop request (SIGINT, SIGTERM) ends the program, whatever
// window is open: the open progress dialogs tell their workers to stop and
// end once the workers have ended, a question on the screen takes the Esc
// answer, and every event loop ends, the main loop included, so that the
// usual exit steps follow ("dlg_path" written, link closed). Anything that
// would open afterwards (a dialog, a message box) ends at once.
#include <string>

class QObject;

namespace vrx4 {

// GUI thread.
void requestProgramStop(const std::string& why);
bool programStopRequested();
// For tests that run several programs in one process.
void clearProgramStopRequest();

// SIGINT and SIGTERM become stop requests on the GUI thread: the handler
// raises the stop flag (which the waits on the unit watch) and writes a
// byte; a notifier owned by `parent` does the rest.
void installStopSignals(QObject* parent);

}  // namespace vrx4
