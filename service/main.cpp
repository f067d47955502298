// quiro-service: the local reference service of Quiro for one machine.

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "service/Address.h"
#include "service/WorkerPool.h"
#include "service/accounts/AccountService.h"
#include "service/accounts/Jwt.h"
#include "service/accounts/SqliteAccountStore.h"
#include "service/coach/RuleCoach.h"
#include "service/http/ProviderSettings.h"
#include "service/http/ServiceOptions.h"
#include "service/http/ServiceServer.h"
#include "service/http/TlsCertificate.h"
#include "service/llm/ModelCoach.h"
#include "service/stt/DecoderWarmUp.h"
#include "service/stt/SpeechModel.h"
#include "service/stt/SpeechService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace quiro;
using namespace quiro::service;

int fail(const QString& message)
{
    QTextStream(stderr) << "quiro-service: " << message << '\n';
    return 1;
}

// SIGINT and SIGTERM end the event loop through a socket pair, the one thing a signal handler
// may safely touch, so the database is closed cleanly.
int s_signalFds[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(s_signalFds[0], &byte, 1);
}

bool usableFolder(const QString& path, QString* error)
{
    if (!QFileInfo::exists(path) && !Paths::ensurePrivateDir(path)) {
        *error = QStringLiteral("cannot create the data folder %1").arg(path);
        return false;
    }
    const QFileInfo info(path);
    if (!info.isDir()) {
        *error = QStringLiteral("the data folder %1 is not a folder").arg(path);
        return false;
    }
    if (!info.isReadable() || !info.isWritable() || !info.isExecutable()) {
        *error = QStringLiteral("cannot read and write the data folder %1 (permission denied)").arg(path);
        return false;
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

std::optional<QByteArray> signingSecret(const QString& path, QString* error)
{
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1").arg(path);
            return std::nullopt;
        }
        const QByteArray secret = file.readAll();
        if (secret.size() >= 32)
            return secret;
    }
    // A new secret ends every session signed with an earlier one; that only happens on first
    // start or when the file was lost.
    const QByteArray secret = Jwt::newSecret();
    if (secret.isEmpty() || !AtomicFile::write(path, secret)) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return std::nullopt;
    }
    return secret;
}

// Which coach and which recognizer answer, without a key.
QString providersLine(const ProviderSettings& providers, const QStringList& localLanguages)
{
    QString coach = QStringLiteral("the rules");
    if (const auto& model = providers.model)
        coach = QStringLiteral("model %1 at %2 (the rules when it fails; $%3/$%4 per 1,000 tokens in/out)")
                    .arg(model->chat.model, Address::shown(model->chat.baseUrl))
                    .arg(model->priceInPerThousand)
                    .arg(model->priceOutPerThousand);
    QString speech = QStringLiteral("pocketsphinx");
    if (const auto& upstream = providers.speech)
        speech = QStringLiteral("%1 for %2 (pocketsphinx when it cannot be reached%3)")
                     .arg(Address::shown(upstream->url), upstream->languages.join(QStringLiteral(", ")),
                          localLanguages.isEmpty() ? QStringLiteral("; no local model installed") : QString());
    return QStringLiteral("coach: %1; speech: %2").arg(coach, speech);
}

} // namespace

int main(int argc, char* argv[])
{
    // Everything the service writes (database, secret, key) is private to the user.
    ::umask(077);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quiro-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUIRO_VERSION));

    SpeechModel speech;
    ServiceOptions options;
    const auto parsed = options.parse(app.arguments(), speech.languages());
    if (parsed.outcome == ServiceOptions::Outcome::Help) {
        QTextStream(stdout) << parsed.message;
        return 0;
    }
    if (parsed.outcome == ServiceOptions::Outcome::WrongUsage) {
        QTextStream(stderr) << "quiro-service: " << parsed.message << '\n';
        return 2;
    }

    QString error;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = options.providerOverrides.cbegin(); it != options.providerOverrides.cend(); ++it)
        environment.insert(it.key(), it.value());
    const auto providers = ProviderSettings::read(environment, &error);
    if (!providers)
        return fail(error);

    const QString dataDir = QDir::cleanPath(QDir(options.dataDir).absolutePath());
    if (!usableFolder(dataDir, &error))
        return fail(error);

    QHostAddress address;
    if (options.host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.setAddress(options.host))
        return fail(QStringLiteral("--host must be an IP address or localhost, not '%1'").arg(options.host));

    const auto secret = signingSecret(dataDir + QStringLiteral("/jwt.secret"), &error);
    if (!secret)
        return fail(error);

    SqliteAccountStore store(dataDir + QStringLiteral("/accounts.db"));
    if (!store.open(&error))
        return fail(QStringLiteral("cannot open the account database in %1: %2").arg(dataDir, error));
    WorkerPool workers;
    AccountService accounts(store, Jwt(*secret), Clock::system(), workers, options.limits.registrationsPerMinute);

    std::unique_ptr<Coach> coach;
    if (providers->model)
        coach = std::make_unique<ModelCoach>(*providers->model, workers);
    else
        coach = std::make_unique<RuleCoach>(workers);
    SpeechService recognizers(speech, providers->speech);
    ServiceServer server(accounts, *coach, recognizers, options.limits);
    std::optional<QSslConfiguration> tls;
    if (options.tls) {
        const auto identity = TlsCertificate::loadOrCreate(dataDir, &error);
        if (!identity)
            return fail(QStringLiteral("cannot set up TLS: %1").arg(error));
        tls = QSslConfiguration::defaultConfiguration();
        tls->setLocalCertificate(identity->certificate);
        tls->setPrivateKey(identity->key);
        tls->setPeerVerifyMode(QSslSocket::VerifyNone); // clients authenticate with tokens, not certificates
    }
    const quint16 port = server.start(address, options.port, tls, &error);
    if (port == 0)
        return fail(QStringLiteral("cannot listen on %1:%2: %3").arg(options.host).arg(options.port).arg(error));

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_signalFds) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier signalNotifier(s_signalFds[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    // Decoders loaded ahead of the streams; one when a hosted recognizer takes the language and
    // pocketsphinx only stands in for it.
    const QString warmLanguage = speech.languages().value(0);
    const int waiting = recognizers.relays(warmLanguage) ? 1 : options.limits.warmDecoders;
    speech.setDecodersAhead(size_t(std::min(waiting, options.limits.streams())), size_t(options.limits.streams()));
    std::optional<DecoderWarmUp> warmUp;
    if (!warmLanguage.isEmpty()) {
        warmUp.emplace(speech, warmLanguage);
        warmUp->start();
    }

    const QString scheme = options.tls ? QStringLiteral("https") : QStringLiteral("http");
    const QString shownHost = address.protocol() == QAbstractSocket::IPv6Protocol
                                  ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                                  : address.toString();
    if (!address.isLoopback())
        Log::line(QStringLiteral("Service"),
                  QStringLiteral("warning: listening beyond this machine; accounts are reachable from the network"));
    Log::line(QStringLiteral("Service"), QStringLiteral("listening on %1://%2:%3 (data in %4; speech: %5)")
                                             .arg(scheme, shownHost)
                                             .arg(port)
                                             .arg(dataDir, recognizers.languages().join(QStringLiteral(", "))));
    for (const QString& warning : providers->warnings)
        Log::line(QStringLiteral("Service"), QStringLiteral("warning: ") + warning);
    Log::line(QStringLiteral("Service"), providersLine(*providers, speech.languages()));
    if (server.maxConnections() < options.limits.maxConnections)
        Log::line(QStringLiteral("Service"),
                  QStringLiteral("at most %1 open connections: the file-descriptor limit leaves no room for %2")
                      .arg(server.maxConnections())
                      .arg(options.limits.maxConnections));
    const int status = app.exec();
    workers.shutdown();
    warmUp.reset();
    Log::line(QStringLiteral("Service"), QStringLiteral("stopped"));
    return status;
}
