#pragma once

#include "core/Clock.h"
#include "core/Paths.h"

#include <QString>

namespace quiro {

class AuthManager;
class ConversationStore;
class SessionController;
class SessionWindowModel;

// What the main window works with. The shell passes the program's single instances; tests pass
// their own, with a temporary home and a clock they move. Every pointer must outlive the window.
struct MainServices {
    SessionController* controller = nullptr;
    ConversationStore* store = nullptr;
    AuthManager* auth = nullptr;
    SessionWindowModel* overlay = nullptr;
    const Clock* clock = &Clock::system();
    QString envFile = Paths::userEnvFile();
    QString profileFile = Paths::profileFile();

    // The shared store, account manager and overlay model around `controller`.
    static MainServices standard(SessionController& controller);
};

} // namespace quiro
