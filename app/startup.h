#pragma once

class QApplication;

namespace norva {

// Sets the application title, creates the main window (which loads the bill values) and then
// the hidden bill value dialog, and wires the dialog's Done to the main window's loading.
void CreateWindows();

// The whole program after the window framework is up: the windows, the showing and the event
// loop. An error escaping any of it is shown in the error box, and the program still ends with 0.
int RunNorvaProtocol(QApplication& application);

}  // namespace norva
