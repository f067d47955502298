#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace quiro {

class GlobalHotKey;
class LocalService;
class LoginWindow;
class MainWindow;
class OnboardingWindow;
class PortalShortcut;
class SessionController;
class SessionWindowController;

// The desktop app: its launch (first-run onboarding, then the sign-in gate), the tray menu, the
// hot key, the overlay's buttons and the three windows, and the process-wide notifications that
// tie them together. One instance, on the GUI thread, for the whole run.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    // How the sign-in gate continues once the user has signed in or registered.
    enum class GateFlow { launch, afterLogout, afterReplay };

    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Starts the local service if it is needed, restores the sign-in and shows what the user
    // should see first.
    QCoro::Task<> launch();

    // The tray menu's first item follows the session: "■  Stop Session" or "▶  Start Session".
    QMenu* menu() const { return m_menu.get(); }
    SessionController& session();
    SessionWindowController& overlay() { return *m_overlay; }

    // Brings the main window forward (a second `quiro`, the tray, the overlay's settings button).
    void showMainWindow();
    // Stops a running call (waiting for it to be saved), puts the overlay away and ends the program.
    QCoro::Task<> quit();

private:
    void finishOnboarding();
    void signInGate(GateFlow flow);
    void showLogin(GateFlow flow);
    void showOnboarding(std::function<void()> onComplete);
    void closeOnboarding();
    void closeMainWindow();
    void installHotKey();
    void wireOverlay();
    void rebuildMenu();
    QCoro::Task<> toggleFromMenu();
    QCoro::Task<> toggleFromOverlay();
    QCoro::Task<> loggedOut();
    void replayOnboarding();

    std::unique_ptr<SessionWindowController> m_overlay;
    std::unique_ptr<SessionController> m_session;
    std::unique_ptr<LocalService> m_localService;
    std::unique_ptr<QMenu> m_menu;
    QPointer<QSystemTrayIcon> m_tray;
    QPointer<MainWindow> m_mainWindow;
    QPointer<LoginWindow> m_loginWindow;
    QPointer<OnboardingWindow> m_onboarding;
    std::unique_ptr<GlobalHotKey> m_hotKey;
    std::unique_ptr<PortalShortcut> m_portalShortcut;
    bool m_callStopping = false; // the session was saving a call: the next idle shows its debrief
    bool m_launched = false;
    bool m_quitting = false;
};

// `quiro` without arguments: the desktop app, one per user. Returns the exit status.
int runDesktopApp(int argc, char* argv[]);

} // namespace quiro
