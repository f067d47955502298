#include "app/cli/DoctorCommand.h"

#include "account/JwtExpiry.h"
#include "account/TokenStore.h"
#include "app/cli/Command.h"
#include "app/cli/TerminalText.h"
#include "audio/AudioCapture.h"
#include "audio/AudioLevel.h"
#include "audio/SoundServer.h"
#include "audio/SystemAudioCapture.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/ExternalService.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Preferences.h"

#include <QCommandLineParser>
#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QEventLoop>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTextStream>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>

namespace quiro::cli {

namespace {

enum class Need { forCall, optional };

struct Check {
    explicit Check(QString name = {}, Need needed = Need::forCall)
        : label(std::move(name))
        , need(needed)
    {
    }

    QString label;
    bool ok = false;
    Need need;
    QString detail; // what was found, or what is wrong and how to fix it
};

constexpr int levelWindowMs = 2000;
constexpr int apiTimeoutMs = 5000;
const QString soundSettings = QStringLiteral("the sound settings (pavucontrol)");

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
        server.detail = *error + QStringLiteral(" — start PulseAudio or PipeWire (pipewire-pulse) and log in again");
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

    std::optional<QString> microphoneError;
    if (info.defaultSource.isEmpty())
        microphoneError = QStringLiteral("no input device — plug in a microphone or enable it in ") + soundSettings;
    else if (info.sourceIsMonitor)
        microphoneError = QStringLiteral("the default input \"%1\" only repeats what the computer plays — plug in a "
                                         "microphone or choose it in %2")
                              .arg(info.defaultSourceDescription, soundSettings);
    else if (info.sourceMuted)
        microphoneError = QStringLiteral("%1 (%2) is muted — unmute it in %3")
                              .arg(info.defaultSourceDescription, info.defaultSource, soundSettings);
    else if (const auto failure = QCoro::waitFor(microphoneCapture.start()))
        microphoneError = failure->message;

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
    }

    if (systemFailure) {
        QString why = systemFailure->message;
        if (systemFailure->error == SystemAudioCapture::CaptureError::noDisplay)
            why = QStringLiteral("no output device to listen to — choose one in ") + soundSettings;
        system.detail = why + QStringLiteral("; without it only your microphone is heard");
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
    Check display{QStringLiteral("Display")};
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

QCoro::Task<Check> checkService(Config config)
{
    Check check{QStringLiteral("Service")};
    const std::optional<QUrl> url = config.apiURL();
    if (!url) {
        check.detail =
            QStringLiteral("API_BASE \"%1\" is not a URL — fix it in %2").arg(config.apiBase, Paths::userEnvFile());
        co_return check;
    }
    QNetworkAccessManager network;
    network.setTransferTimeout(apiTimeoutMs);
    QNetworkReply* reply = network.get(ExternalService::request(*url));
    reply->setParent(&network);
    QStringList tlsErrors;
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [&tlsErrors](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            tlsErrors.append(error.errorString());
    });
    QPointer<QNetworkReply> guard(reply);
    co_await reply;
    if (!guard) {
        check.detail = QStringLiteral("the request to %1 was lost").arg(config.apiBase);
        co_return check;
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool tls = url->scheme() == QLatin1String("https");
    if (status.isValid()) {
        // Any HTTP answer means the service is there and the TLS handshake succeeded.
        check.ok = true;
        check.detail = QStringLiteral("%1 answers (HTTP %2)%3")
                           .arg(config.apiBase)
                           .arg(status.toInt())
                           .arg(tls ? QStringLiteral(" over trusted TLS") : QStringLiteral(", unencrypted"));
        co_return check;
    }
    const QString where = QStringLiteral("the service at %1").arg(config.apiBase);
    const QString local = ExternalService::isLoopbackHost(url->host())
                              ? QStringLiteral("start the local service (quiro-service, or scripts/run)")
                              : QStringLiteral("check your network, or API_BASE in %1").arg(Paths::userEnvFile());
    switch (reply->error()) {
    case QNetworkReply::SslHandshakeFailedError:
        check.detail =
            QStringLiteral("%1 has a certificate we do not trust (%2) — %3")
                .arg(where, tlsErrors.isEmpty() ? reply->errorString() : tlsErrors.join(QStringLiteral("; ")),
                     ExternalService::isLoopbackHost(url->host())
                         ? QStringLiteral("the local service's certificate is %1; restart the service to "
                                          "recreate it")
                               .arg(Paths::serviceCertFile())
                         : QStringLiteral("check API_BASE in %1").arg(Paths::userEnvFile()));
        break;
    case QNetworkReply::OperationCanceledError:
        check.detail =
            QStringLiteral("%1 did not answer within %2 s — %3").arg(where).arg(apiTimeoutMs / 1000).arg(local);
        break;
    default:
        check.detail = QStringLiteral("cannot reach %1 (%2) — %3").arg(where, reply->errorString(), local);
        break;
    }
    co_return check;
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

// --- output --------------------------------------------------------------------------------

void print(QTextStream& out, const Check& check, const Style& style)
{
    QString line = check.label + QStringLiteral(": ") + check.detail;
    if (!check.ok && check.need == Need::optional)
        line += QStringLiteral(" (optional)");
    const QString mark = check.ok                       ? style.green(QStringLiteral("✓"))
                         : check.need == Need::optional ? style.yellow(QStringLiteral("✗"))
                                                        : style.red(QStringLiteral("✗"));
    out << mark << ' ' << line << '\n';
    out.flush();
}

} // namespace

int runDoctor(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks that this computer is ready for a coached call and says how to fix what is not."));
    parser.addHelpOption();
    if (!parser.parse(QStringList{QStringLiteral("quiro doctor")} + arguments)) {
        QTextStream(stderr) << "quiro doctor: " << parser.errorText() << ". Run 'quiro doctor --help'.\n";
        return WrongUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return Success;
    }
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << "quiro doctor: takes no arguments. Run 'quiro doctor --help'.\n";
        return WrongUsage;
    }

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
    const Check secrets = checkSecretService();
    report({secrets});
    report({QCoro::waitFor(checkService(Config::load()))});
    // Without a secret service the token can only be in the file; asking the keychain would
    // merely wait for D-Bus to give up.
    report({QCoro::waitFor(
        checkAccount(secrets.ok ? TokenStore::Backend::keychainThenFile : TokenStore::Backend::fileOnly))});

    QStringList blocking;
    for (const Check& check : checks) {
        if (!check.ok && check.need == Need::forCall)
            blocking.append(check.label);
    }
    if (blocking.isEmpty()) {
        out << "Ready for a call.\n";
        return Success;
    }
    out << "Not ready for a call — fix: " << blocking.join(QStringLiteral(", ")) << ".\n";
    return Failure;
}

} // namespace quiro::cli
