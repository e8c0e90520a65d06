#pragma once

// The whole program after its QApplication is made: the names, the Chinese
// texts, the one-workstation lock, the splash, the main window, the quit
// signals and the orderly end (runs stopped, samples stored, the database
// checkpointed so ORVDB.db3 alone is complete, the lock released). main()
// is this call; test programs make the same call with a hook.

#include <functional>

class MainWindow;
class QApplication;

namespace app {

struct StartHooks
{
    // Called once the main window is shown.
    std::function<void(MainWindow *)> mainWindowShown;
    int splashMs = 3000;
};

int runWorkstation(QApplication &application, const StartHooks &hooks = StartHooks());

} // namespace app
