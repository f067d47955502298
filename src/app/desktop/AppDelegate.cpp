#include "app/desktop/AppDelegate.h"

#include "account/AuthManager.h"
#include "app/desktop/GlobalHotKey.h"
#include "app/desktop/LocalService.h"
#include "app/desktop/PortalShortcut.h"
#include "app/desktop/SingleInstance.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "overlay/SessionWindowController.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"
#include "ui/kit/AppIcon.h"
#include "ui/kit/WindowPresenter.h"
#include "ui/main/MainServices.h"
#include "ui/main/MainWindow.h"
#include "ui/onboarding/LoginWindow.h"
#include "ui/onboarding/OnboardingWindow.h"

#include <QApplication>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTextStream>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace quiro {

namespace {

const QString tag = QStringLiteral("App");
// Between the launch step and the sign-in gate, and between a finished onboarding and the overlay:
// the closing window gets its turn to go first.
constexpr int gateDelayMs = 100;
constexpr int afterOnboardingDelayMs = 150;

// Runs `fn` on a later turn of the event loop, while `context` lives.
void later(QObject* context, int delayMs, std::function<void()> fn)
{
    QTimer::singleShot(delayMs, context, std::move(fn));
}

} // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
    , m_overlay(std::make_unique<SessionWindowController>(SessionWindowModel::shared()))
{
}

AppDelegate::~AppDelegate()
{
    m_overlay->teardown();
}

SessionController& AppDelegate::session()
{
    // Created on first use, with the restored sign-in: the one controller of the whole run.
    if (!m_session) {
        m_session = std::make_unique<SessionController>(SessionController::Environment::standard());
        m_session->setSessionWindow(&SessionWindowModel::shared());
    }
    return *m_session;
}

QCoro::Task<> AppDelegate::launch()
{
    QPointer<AppDelegate> self(this);
    m_localService = std::make_unique<LocalService>(Config::load());
    const LocalService::Outcome service = co_await m_localService->ensureRunning();
    if (!self)
        co_return;
    if (service == LocalService::Outcome::failed)
        Log::line(tag, QStringLiteral("The local service is not running: ") + m_localService->problem());
    co_await AuthManager::shared().restore();
    if (!self)
        co_return;
    if (!Preferences::onboardingDone())
        showOnboarding([this] { finishOnboarding(); });
    else
        finishOnboarding();
}

void AppDelegate::showOnboarding(std::function<void()> onComplete)
{
    if (!m_onboarding) {
        m_onboarding = new OnboardingWindow();
        m_onboarding->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_onboarding, &OnboardingWindow::completed, this, std::move(onComplete));
    }
    presentWindow(*m_onboarding);
}

void AppDelegate::closeOnboarding()
{
    if (m_onboarding)
        m_onboarding->close();
}

void AppDelegate::finishOnboarding()
{
    if (m_launched) // the launch runs once; a replayed onboarding ends in replayOnboarding()
        return;
    m_launched = true;

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(appIcon(), this);
        m_tray->setToolTip(QStringLiteral("Quiro"));
        m_menu = std::make_unique<QMenu>();
        m_tray->setContextMenu(m_menu.get());
        rebuildMenu();
        m_tray->show();
    } else {
        // Said once, and the main window comes up so that every action is at hand.
        Log::line(tag, QStringLiteral("No system tray on this desktop: the overlay and the main window carry every "
                                      "action (run quiro again to bring the main window forward)"));
        later(this, gateDelayMs, [this] { showMainWindow(); });
    }
    wireOverlay();
    installHotKey();

    auto& center = NotificationCenter::instance();
    // A call asked for while signed out (or with an expired sign-in) brings up the sign-in, not a
    // main window without an account.
    center.observe(Notifications::showMain, this, [this](const Notification&) {
        if (AuthManager::shared().isLoggedIn())
            showMainWindow();
        else
            showLogin(GateFlow::afterLogout);
    });
    center.observe(Notifications::hideMain, this, [this](const Notification&) { closeMainWindow(); });
    center.observe(Notifications::loggedOut, this, [this](const Notification&) { loggedOut(); });
    connect(&session(), &SessionController::runningChanged, this, &AppDelegate::rebuildMenu);
    // The debrief of a call that has just been saved comes up in the main window.
    connect(&session(), &SessionController::stateChanged, this, [this] {
        const SessionController::State state = session().state();
        const bool callSaved = m_callStopping && state == SessionController::State::idle;
        m_callStopping = state == SessionController::State::stopping;
        if (callSaved && !m_quitting && AuthManager::shared().isLoggedIn())
            showMainWindow();
    });

    later(this, 0, [this] {
        closeOnboarding();
        later(this, gateDelayMs, [this] { signInGate(GateFlow::launch); });
    });
}

void AppDelegate::signInGate(GateFlow flow)
{
    if (AuthManager::shared().isLoggedIn())
        m_overlay->show();
    else
        showLogin(flow);
}

void AppDelegate::showLogin(GateFlow flow)
{
    if (m_loginWindow) {
        presentWindow(*m_loginWindow);
        return;
    }
    m_loginWindow = new LoginWindow(AuthManager::shared());
    m_loginWindow->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_loginWindow, &LoginWindow::loggedIn, this, [this, flow] {
        m_overlay->show();
        if (flow != GateFlow::launch)
            showMainWindow();
    });
    connect(m_loginWindow, &LoginWindow::registered, this, [this, flow] {
        if (flow == GateFlow::afterReplay) {
            m_overlay->show();
            Preferences::setOnboardingDone(true);
            return;
        }
        // A new account starts with the first-run pages, then the overlay; not twice in a row when
        // this very launch has just shown them.
        if (Preferences::onboardingDone()) {
            m_overlay->show();
            return;
        }
        showOnboarding([this] {
            later(this, 0, [this] {
                closeOnboarding();
                later(this, afterOnboardingDelayMs, [this] {
                    m_overlay->show();
                    Preferences::setOnboardingDone(true);
                });
            });
        });
    });
    presentWindow(*m_loginWindow);
}

void AppDelegate::showMainWindow()
{
    if (!m_mainWindow) {
        m_mainWindow = new MainWindow(MainServices::standard(session()));
        // Closing the main window, by the user or by the program, brings the overlay up.
        connect(m_mainWindow, &MainWindow::closed, this, [this] {
            if (!m_quitting && AuthManager::shared().isLoggedIn())
                m_overlay->show();
        });
    }
    m_mainWindow->present();
}

void AppDelegate::closeMainWindow()
{
    if (m_mainWindow && m_mainWindow->isVisible())
        m_mainWindow->close();
}

void AppDelegate::wireOverlay()
{
    SessionWindowModel& model = m_overlay->model();
    QPointer<AppDelegate> self(this);
    model.onToggle = [self] {
        if (self)
            self->toggleFromOverlay();
    };
    model.onRestart = [&model] { model.reset(); };
    model.onAssist = [self] {
        if (self)
            self->session().manualAssist();
    };
    model.onClose = [self] {
        if (self)
            self->m_overlay->hide();
    };
    model.onOpenSettings = [self] {
        if (!self)
            return;
        self->m_overlay->hide();
        self->showMainWindow();
    };
    // This desktop cannot keep a window out of screen captures; the overlay says so itself.
    model.onCaptureVisibility = [](bool) {};
}

void AppDelegate::installHotKey()
{
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (wayland && PortalShortcut::isOffered()) {
        m_portalShortcut = std::make_unique<PortalShortcut>();
        connect(m_portalShortcut.get(), &PortalShortcut::activated, this, [this] { session().manualAssist(); });
        QCoro::connect(m_portalShortcut->bind(), this, [](const std::optional<QString>& problem) {
            Log::line(tag, problem ? QStringLiteral("Ctrl+Shift+Space is not available: ") + *problem
                                   : QStringLiteral("Ctrl+Shift+Space bound through the desktop portal"));
        });
        return;
    }
    m_hotKey = std::make_unique<GlobalHotKey>();
    if (const auto problem = m_hotKey->install()) {
        Log::line(tag, *problem);
        return;
    }
    connect(m_hotKey.get(), &GlobalHotKey::activated, this, [this] { session().manualAssist(); });
    if (wayland)
        Log::line(tag, QStringLiteral("This Wayland desktop offers no global shortcuts portal: Ctrl+Shift+Space "
                                      "works only while a Quiro window has the focus"));
}

void AppDelegate::rebuildMenu()
{
    if (!m_menu)
        return;
    m_menu->clear();
    const bool running = m_session && m_session->running();
    QAction* toggle =
        m_menu->addAction(running ? QStringLiteral("■  Stop Session") : QStringLiteral("▶  Start Session"), this,
                          [this] { toggleFromMenu(); });
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Open Quiro"), this, &AppDelegate::showMainWindow)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_menu->addAction(QStringLiteral("Show Session Window"), this, [this] { m_overlay->show(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    m_menu->addAction(QStringLiteral("Onboarding again…"), this, &AppDelegate::replayOnboarding);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Quit Quiro"), this, [this] { quit(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

QCoro::Task<> AppDelegate::toggleFromMenu()
{
    QPointer<AppDelegate> self(this);
    co_await session().toggle();
    if (!self)
        co_return;
    if (session().running())
        m_overlay->show();
    rebuildMenu();
}

QCoro::Task<> AppDelegate::toggleFromOverlay()
{
    QPointer<AppDelegate> self(this);
    co_await session().toggle();
    if (!self)
        co_return;
    if (session().running()) {
        closeMainWindow();
        m_overlay->show();
    }
    rebuildMenu();
}

QCoro::Task<> AppDelegate::loggedOut()
{
    QPointer<AppDelegate> self(this);
    // The call is saved under the account it was made with before the login window appears.
    session().stop();
    co_await session().untilIdle();
    if (!self)
        co_return;
    closeMainWindow();
    m_overlay->model().reset();
    m_overlay->hide();
    showLogin(GateFlow::afterLogout);
}

void AppDelegate::replayOnboarding()
{
    showOnboarding([this] {
        later(this, 0, [this] {
            closeOnboarding();
            Preferences::setOnboardingDone(true);
            later(this, afterOnboardingDelayMs, [this] { signInGate(GateFlow::afterReplay); });
        });
    });
}

QCoro::Task<> AppDelegate::quit()
{
    if (m_quitting)
        co_return;
    m_quitting = true;
    QPointer<AppDelegate> self(this);
    // A call in progress drains its streams and is saved first (a few seconds at most).
    if (m_session) {
        m_session->stop();
        co_await m_session->untilIdle();
    }
    if (!self)
        co_return;
    m_overlay->teardown();
    QCoreApplication::quit();
}

namespace {

// SIGTERM (a logout of the desktop session) and SIGINT end the app like its Quit item: the call is
// saved first. The handler only writes a byte; the event loop does the rest.
int s_signalWriteFd = -1;

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(s_signalWriteFd, &byte, 1);
}

void quitOnSignals(AppDelegate& app)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    s_signalWriteFd = fds[0];
    auto* notifier = new QSocketNotifier(fds[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, fd = fds[1]] {
        char byte;
        [[maybe_unused]] const auto got = ::read(fd, &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int runDesktopApp(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        QTextStream(stderr) << "quiro: there is no display to show the desktop app on; run 'quiro console' for a "
                               "coached call in the terminal.\n";
        return 1;
    }
    // On Wayland the windows go through XWayland: the overlay must place itself, which Wayland
    // does not let a program do.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(appIcon());
    QApplication::setDesktopFileName(QStringLiteral("io.quiro.Quiro"));

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::handedOver:
        QTextStream(stdout) << "Quiro is already running; its window is in front now.\n";
        return 0;
    case SingleInstance::Claim::failed:
        Log::line(tag, QStringLiteral("Cannot make sure Quiro runs once: ") + instance.problem());
        break;
    case SingleInstance::Claim::first:
        break;
    }

    AppDelegate delegate;
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate, &AppDelegate::showMainWindow);
    quitOnSignals(delegate);
    delegate.launch();
    return QApplication::exec();
}

} // namespace quiro
