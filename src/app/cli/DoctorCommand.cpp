#include "app/cli/DoctorCommand.h"

#include "account/JwtExpiry.h"
#include "account/TokenStore.h"
#include "app/cli/Command.h"
#include "app/cli/CommandLine.h"
#include "app/cli/ServiceCheck.h"
#include "app/cli/TerminalText.h"
#include "app/desktop/PortalShortcut.h"
#include "audio/AudioCapture.h"
#include "audio/AudioLevel.h"
#include "audio/HearingCheck.h"
#include "audio/SoundServer.h"
#include "audio/SystemAudioCapture.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Preferences.h"

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QEventLoop>
#include <QMutex>
#include <QTextStream>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cmath>
#include <memory>

namespace quiro::cli {

namespace {

enum class Need {
    forCall,       // no call without it, not even in the terminal
    forDesktopApp, // the windows need it; `quiro console` does not
    optional,
};

struct Check {
    explicit Check(QString name = {}, Need needed = Need::forCall)
        : label(std::move(name))
        , need(needed)
    {
    }

    QString label;
    bool ok = false;
    bool warning = false; // works, but probably not as the user expects
    Need need;
    QString detail; // what was found, or what is wrong and how to fix it
};

constexpr int levelWindowMs = 2000;
constexpr int apiTimeoutMs = 5000;
const QString& soundSettings = HearingCheck::soundSettings;

// --- sound ---------------------------------------------------------------------------------

// Both captures record for the same two seconds, so the whole check takes two seconds.
struct Levels {
    QMutex mutex;
    AudioLevel::Meter microphone;
    AudioLevel::Meter system;
};

QString withLevel(const QString& device, const AudioLevel::Meter& meter)
{
    if (meter.samples() == 0)
        return QString();
    return QStringLiteral("%1, level %2 over %3 s")
        .arg(device, AudioLevel::describe(meter.dbfs()))
        .arg(levelWindowMs / 1000);
}

QList<Check> checkSound()
{
    Check server{QStringLiteral("Sound server")};
    Check microphone{QStringLiteral("Microphone")};
    Check system{QStringLiteral("System audio")};

    const auto queried = SoundServer::query();
    if (const auto* error = std::get_if<QString>(&queried)) {
        server.detail = HearingCheck::serverProblem(*error);
        microphone.detail = QStringLiteral("not checked — no sound server");
        system.detail = QStringLiteral("not checked — no sound server");
        return {server, microphone, system};
    }
    const auto& info = std::get<SoundServer::Info>(queried);
    server.ok = true;
    server.detail = SoundServer::describe(info);

    auto levels = std::make_shared<Levels>();
    AudioCapture microphoneCapture;
    SystemAudioCapture systemCapture;
    microphoneCapture.setOnChunk([levels](QByteArray chunk) {
        const QMutexLocker lock(&levels->mutex);
        levels->microphone.add(chunk);
    });
    systemCapture.setOnChunk([levels](QByteArray chunk) {
        const QMutexLocker lock(&levels->mutex);
        levels->system.add(chunk);
    });

    std::optional<QString> microphoneError = HearingCheck::microphoneProblem(info);
    if (!microphoneError) {
        if (const auto failure = QCoro::waitFor(microphoneCapture.start()))
            microphoneError = failure->message;
    }

    const auto systemFailure = QCoro::waitFor(systemCapture.start());

    if (microphoneCapture.isRunning() || systemCapture.isRunning()) {
        QEventLoop wait;
        QTimer::singleShot(levelWindowMs, &wait, &QEventLoop::quit);
        wait.exec();
    }
    const QString microphoneDevice =
        QStringLiteral("%1 (%2)").arg(microphoneCapture.deviceDescription(), microphoneCapture.deviceName());
    const QString systemDevice =
        QStringLiteral("monitor of %1 (%2)")
            .arg(systemCapture.deviceDescription().isEmpty() ? info.defaultSinkDescription
                                                             : systemCapture.deviceDescription(),
                 systemCapture.deviceName());
    const bool systemWasRunning = systemCapture.isRunning();
    microphoneCapture.stop();
    if (systemWasRunning)
        systemCapture.stop();

    const QMutexLocker lock(&levels->mutex);
    if (microphoneError) {
        microphone.detail = *microphoneError;
    } else if (levels->microphone.samples() == 0) {
        microphone.detail = QStringLiteral("%1 delivered no audio in %2 s — check it in %3")
                                .arg(microphoneDevice)
                                .arg(levelWindowMs / 1000)
                                .arg(soundSettings);
    } else {
        microphone.ok = true;
        microphone.detail = withLevel(microphoneDevice, levels->microphone);
        // Exact zeros come from a muted or disconnected device, never from a quiet room.
        if (std::isinf(levels->microphone.dbfs())) {
            microphone.warning = true;
            microphone.detail += QStringLiteral(" — nothing is coming in; check that the microphone is switched on "
                                                "and not muted in %1")
                                     .arg(soundSettings);
        }
    }

    if (systemFailure) {
        system.detail = HearingCheck::playbackProblem(*systemFailure) +
                        QStringLiteral("; without it only your microphone is heard");
    } else if (levels->system.samples() == 0) {
        system.detail = QStringLiteral("%1 delivered no audio in %2 s — the other side of a call would not be heard")
                            .arg(systemDevice)
                            .arg(levelWindowMs / 1000);
    } else {
        system.ok = true;
        system.detail = withLevel(systemDevice, levels->system);
    }
    return {server, microphone, system};
}

// --- X11 -----------------------------------------------------------------------------------

int s_grabError = 0;

int recordGrabError(Display*, XErrorEvent* event)
{
    s_grabError = event->error_code;
    return 0;
}

// Ctrl+Shift+Space is grabbed the way the app grabs it: on the root window, with the NumLock and
// CapsLock variants, since X matches modifiers exactly. Another client holding any variant makes
// the server answer BadAccess, which arrives asynchronously; XSync collects it.
bool canGrabHotKey(Display* display)
{
    const Window root = DefaultRootWindow(display);
    const KeyCode space = XKeysymToKeycode(display, XK_space);
    if (space == 0)
        return false;
    const unsigned int base = ControlMask | ShiftMask;
    const unsigned int variants[] = {base, base | Mod2Mask, base | LockMask, base | Mod2Mask | LockMask};

    XSync(display, False);
    s_grabError = 0;
    XErrorHandler previous = XSetErrorHandler(&recordGrabError);
    for (unsigned int modifiers : variants)
        XGrabKey(display, space, modifiers, root, True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    const bool grabbed = s_grabError == 0;
    for (unsigned int modifiers : variants)
        XUngrabKey(display, space, modifiers, root);
    XSync(display, False);
    XSetErrorHandler(previous);
    return grabbed;
}

QList<Check> checkDesktop()
{
    Check display{QStringLiteral("Display"), Need::forDesktopApp};
    Check hotKey{QStringLiteral("Hot key"), Need::optional};
    Check tray{QStringLiteral("System tray"), Need::optional};

    const QByteArray name = qgetenv("DISPLAY");
    Display* connection = name.isEmpty() ? nullptr : XOpenDisplay(name.constData());
    if (!connection) {
        display.detail = name.isEmpty() ? QStringLiteral("no X11 display (DISPLAY is not set) — start Quiro from your "
                                                         "desktop session; on Wayland it runs through XWayland")
                                        : QStringLiteral("cannot open X11 display %1 — start Quiro from your desktop "
                                                         "session")
                                              .arg(QString::fromLocal8Bit(name));
        hotKey.detail = QStringLiteral("not checked — no display");
        tray.detail = QStringLiteral("not checked — no display");
        return {display, hotKey, tray};
    }
    display.ok = true;
    display.detail = QStringLiteral("X11 %1 (%2)")
                         .arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(ServerVendor(connection)));

    hotKey.ok = canGrabHotKey(connection);
    hotKey.detail = hotKey.ok ? QStringLiteral("Ctrl+Shift+Space is free")
                              : QStringLiteral("Ctrl+Shift+Space is taken by another program — free it in that "
                                               "program's shortcut settings; the overlay's buttons still work");
    // On Wayland a grab through XWayland hears the key only while an X11 window has the focus, and
    // the call's window is not one; the desktop's shortcuts portal is what the app uses there.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        hotKey.ok = PortalShortcut::isOffered();
        hotKey.detail = hotKey.ok ? QStringLiteral("Ctrl+Shift+Space through the desktop's global shortcuts portal "
                                                   "(the desktop may ask you once to allow it)")
                                  : QStringLiteral("this Wayland desktop offers no global shortcuts portal: "
                                                   "Ctrl+Shift+Space works only while a Quiro window has the "
                                                   "focus; the overlay's buttons still work");
    }

    const QByteArray selection = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(connection));
    const Atom trayAtom = XInternAtom(connection, selection.constData(), False);
    tray.ok = XGetSelectionOwner(connection, trayAtom) != None;
    tray.detail = tray.ok ? QStringLiteral("present")
                          : QStringLiteral("none — Quiro still works from its overlay and main window; add a tray "
                                           "(status notifier) extension to your panel to get its menu");
    XCloseDisplay(connection);
    return {display, hotKey, tray};
}

// --- secret service --------------------------------------------------------------------------

Check checkSecretService()
{
    Check check{QStringLiteral("Secret service"), Need::optional};
    const QString service = QStringLiteral("org.freedesktop.secrets");
    // Without an address libdbus would autolaunch a bus of its own, which helps nobody: the app
    // would not find that bus later either.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        check.detail = QStringLiteral("no session bus (DBUS_SESSION_BUS_ADDRESS is not set) — the sign-in token is "
                                      "kept in %1 (readable only by you) instead")
                           .arg(Paths::tokenFile());
        return check;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()) {
        const bool running = bus.interface()->isServiceRegistered(service).value();
        const bool activatable = bus.interface()->activatableServiceNames().value().contains(service);
        check.ok = running || activatable;
    }
    check.detail = check.ok
                       ? QStringLiteral("%1 on the session bus; the sign-in token goes to the keyring").arg(service)
                       : QStringLiteral("none on the session bus — the sign-in token is kept in %1 (readable "
                                        "only by you) instead; install gnome-keyring or KWallet to use a keyring")
                             .arg(Paths::tokenFile());
    return check;
}

// --- service -------------------------------------------------------------------------------

Check serviceCheck(const ServiceCheck::Result& result)
{
    Check check{QStringLiteral("Service")};
    check.ok = result.answers;
    check.detail = result.detail;
    return check;
}

Check providerCheck(const QString& label, const ServiceCheck::Provider& provider)
{
    Check check{label, Need::optional};
    check.ok = true;
    check.warning = provider.warning;
    check.detail = provider.detail;
    return check;
}

// The service refuses a stream in a language it has no model for, so the call would hear nothing.
Check languageCheck(const QString& language, const QStringList& served)
{
    Check check{QStringLiteral("Language")};
    check.ok = ServiceCheck::servesLanguage(served, language);
    check.detail = check.ok ? QStringLiteral("calls are transcribed in \"%1\"").arg(language)
                            : QStringLiteral("STT_LANGUAGE=%1, but the service transcribes only %2 — choose one of "
                                             "them in Settings or in %3")
                                  .arg(language, served.join(QStringLiteral(", ")), Paths::userEnvFile());
    return check;
}

// The service, then what coaches and what transcribes there, when it says.
QCoro::Task<QList<Check>> checkService(Config config)
{
    const ServiceCheck::Result result = co_await ServiceCheck::run(config, apiTimeoutMs);
    QList<Check> checks{serviceCheck(result)};
    if (result.coach)
        checks.append(providerCheck(QStringLiteral("Coach"), *result.coach));
    if (result.speech)
        checks.append(providerCheck(QStringLiteral("Speech"), *result.speech));
    if (!result.speechLanguages.isEmpty())
        checks.append(languageCheck(config.language, result.speechLanguages));
    co_return checks;
}

// --- account -------------------------------------------------------------------------------

QCoro::Task<Check> checkAccount(TokenStore::Backend backend)
{
    Check check{QStringLiteral("Account")};
    TokenStore store(backend);
    const std::optional<QString> token = co_await store.read();
    const QString who = Preferences::email().value_or(QStringLiteral("an account"));
    if (!token || token->isEmpty()) {
        check.detail = QStringLiteral("not signed in — run 'quiro login' (or 'quiro register' for a new account)");
        co_return check;
    }
    const std::optional<double> expiry = JwtExpiry::expiry(*token);
    if (expiry && *expiry <= Clock::system().now()) {
        check.detail = QStringLiteral("the sign-in of %1 has expired — run 'quiro login'").arg(who);
        co_return check;
    }
    check.ok = true;
    check.detail = QStringLiteral("signed in as %1").arg(who);
    if (expiry) {
        const QDateTime until = QDateTime::fromSecsSinceEpoch(qint64(*expiry), Qt::UTC);
        check.detail += QStringLiteral(" (token valid until %1)").arg(until.toString(Qt::ISODate));
    }
    co_return check;
}

// --- settings ------------------------------------------------------------------------------

Check checkSettings()
{
    Check check{QStringLiteral("Settings")};
    const QStringList problems = Config::problemsIn(Paths::userEnvFile());
    check.ok = true;
    if (problems.isEmpty()) {
        check.detail = QStringLiteral("%1 is fine").arg(Paths::userEnvFile());
        return check;
    }
    // Each problem names its line; the checks below show what the program made of the rest.
    check.warning = true;
    check.detail = problems.join(QStringLiteral("; "));
    return check;
}

// --- output --------------------------------------------------------------------------------

void print(QTextStream& out, const Check& check, const Style& style)
{
    QString line = check.label + QStringLiteral(": ") + check.detail;
    if (!check.ok && check.need == Need::optional)
        line += QStringLiteral(" (optional)");
    const QString mark = check.warning                  ? style.yellow(QStringLiteral("!"))
                         : check.ok                     ? style.green(QStringLiteral("✓"))
                         : check.need == Need::optional ? style.yellow(QStringLiteral("✗"))
                                                        : style.red(QStringLiteral("✗"));
    out << mark << ' ' << line << '\n';
    out.flush();
}

} // namespace

int runDoctor(const QStringList& arguments)
{
    CommandLine commandLine(
        QStringLiteral("doctor"),
        QStringLiteral("Usage: quiro doctor\n\n"
                       "Checks that this computer is ready for a coached call — sound, display,\n"
                       "settings, the service and the sign-in — and says how to fix what is not.\n\n"
                       "Options:\n"
                       "  -h, --help    show this help\n"));
    if (const auto parsed = commandLine.parse(arguments, 0, 0); parsed != CommandLine::Parsed::run)
        return CommandLine::exitStatus(parsed);

    // The captures log their start and stop; here only the check lines belong on stdout.
    Log::setSink([](const QString&) {});

    QTextStream out(stdout);
    const Style style(useColour());
    QList<Check> checks;
    auto report = [&](const QList<Check>& found) {
        for (const Check& check : found)
            print(out, check, style);
        checks += found;
    };

    report(checkSound());
    report(checkDesktop());
    report({checkSettings()});
    const Check secrets = checkSecretService();
    report({secrets});
    report(QCoro::waitFor(checkService(Config::load())));
    // Without a secret service the token can only be in the file; asking the keychain would
    // merely wait for D-Bus to give up.
    report({QCoro::waitFor(
        checkAccount(secrets.ok ? TokenStore::Backend::keychainThenFile : TokenStore::Backend::fileOnly))});

    const auto failing = [&](Need need) {
        QStringList labels;
        for (const Check& check : checks) {
            if (!check.ok && check.need == need)
                labels.append(check.label);
        }
        return labels;
    };
    if (const QStringList blocking = failing(Need::forCall); !blocking.isEmpty()) {
        out << "Not ready for a call — fix: " << blocking.join(QStringLiteral(", ")) << ".\n";
        return Failure;
    }
    if (const QStringList desktop = failing(Need::forDesktopApp); !desktop.isEmpty()) {
        out << "Ready for a call in the terminal (quiro console); the desktop app also needs: "
            << desktop.join(QStringLiteral(", ")) << ".\n";
        return Success;
    }
    out << "Ready for a call.\n";
    return Success;
}

} // namespace quiro::cli
