#include "service/http/ServiceOptions.h"

#include "core/Paths.h"

#include <QCommandLineParser>
#include <QThread>

#include <cmath>
#include <optional>

namespace quiro::service {

namespace {

// A deadline in seconds ("10", "0.2") as milliseconds, from a millisecond to an hour.
std::optional<int> milliseconds(const QString& text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.001 || seconds > 3600)
        return std::nullopt;
    return int(std::lround(seconds * 1000));
}

std::optional<int> count(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 100'000)
        return std::nullopt;
    return value;
}

} // namespace

int ServiceLimits::streams() const
{
    return maxStreams > 0 ? maxStreams : 2 * std::max(1, QThread::idealThreadCount());
}

QString ServiceOptions::helpText(const QStringList& languages)
{
    return QStringLiteral(
               "Usage: quiro-service [--host ADDRESS] [--port PORT] [--data-dir FOLDER] [--no-tls] [limits]\n"
               "\n"
               "The local reference service of Quiro: accounts, the coaching endpoints and speech-to-text,\n"
               "for the app on this machine.\n"
               "\n"
               "Options:\n"
               "  --host ADDRESS     address to listen on (default 127.0.0.1)\n"
               "  --port PORT        port to listen on (default 8443; 0 picks a free port)\n"
               "  --data-dir FOLDER  accounts, signing secret and TLS certificate (default ~/.quiroai/service)\n"
               "  --no-tls           plain http:// and ws:// instead of https:// and wss:// (for tests)\n"
               "  -h, --help         show this text\n"
               "\n"
               "Limits (seconds may have decimals):\n"
               "  --request-timeout SECONDS       to receive one request and finish a TLS handshake (default 10)\n"
               "  --idle-timeout SECONDS          before a connection without a request is closed (default 30)\n"
               "  --stt-silence-timeout SECONDS   before a /stt stream without audio is closed (default 30)\n"
               "  --max-connections N             open connections (default 64, fewer if the descriptor\n"
               "                                  limit is lower)\n"
               "  --max-streams N                 concurrent /stt streams of all accounts (default 2 per core)\n"
               "  --warm-decoders N               decoders loaded ahead of new streams, ~90 MB each (default 2)\n"
               "  --registrations-per-minute N    new accounts per minute, whole service (default 10)\n"
               "\n"
               "Model providers (each also read from the environment variable in brackets; API keys only\n"
               "from the environment: QUIRO_LLM_API_KEY or QUIRO_LLM_API_KEY_FILE, QUIRO_STT_API_KEY or\n"
               "QUIRO_STT_API_KEY_FILE, a file readable by its owner only):\n"
               "  --llm-base-url URL              an OpenAI-compatible chat-completions server for the coach,\n"
               "                                  e.g. http://127.0.0.1:8080/v1 [QUIRO_LLM_BASE_URL]; without\n"
               "                                  it the rules coach\n"
               "  --llm-model NAME                the model it should use [QUIRO_LLM_MODEL]\n"
               "  --llm-price-in USD              per 1,000 tokens sent, for \"cost\" (default 0) "
               "[QUIRO_LLM_PRICE_IN]\n"
               "  --llm-price-out USD             per 1,000 tokens received (default 0) [QUIRO_LLM_PRICE_OUT]\n"
               "  --llm-timeout SECONDS           at most this long per request (default and limit: 8 /hint,\n"
               "                                  4.5 /extract, 6 /assist, 50 /analyze) [QUIRO_LLM_TIMEOUT]\n"
               "  --stt-url URL                   a hosted streaming recognizer's live endpoint, ws:// or wss://\n"
               "                                  [QUIRO_STT_URL]; without it pocketsphinx transcribes\n"
               "  --stt-languages LIST            the languages streamed to it (default en) [QUIRO_STT_LANGUAGES]\n"
               "  --stt-connect-timeout SECONDS   before pocketsphinx takes a stream it cannot reach (default 5)\n"
               "                                  [QUIRO_STT_CONNECT_TIMEOUT]\n"
               "\n"
               "Endpoints: POST /api/register /api/login /api/refresh, GET /me, POST /hint /extract /assist\n"
               "/analyze, WebSocket /stt?lang=LANG&rate=16000.\n"
               "\n"
               "Speech-to-text (/stt) decodes raw 16-bit signed little-endian mono PCM at 16000 Hz, no header,\n"
               "with pocketsphinx. Languages with a model on this machine: %1.\n")
        .arg(languages.isEmpty() ? QStringLiteral("none (install pocketsphinx-en-us)")
                                 : languages.join(QStringLiteral(", ")));
}

ServiceOptions::Parsed ServiceOptions::parse(const QStringList& arguments, const QStringList& languages)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption hostOption(QStringLiteral("host"), QString(), QStringLiteral("address"));
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption dataOption(QStringLiteral("data-dir"), QString(), QStringLiteral("folder"));
    const QCommandLineOption noTlsOption(QStringLiteral("no-tls"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({hostOption, portOption, dataOption, noTlsOption, helpOption});

    struct Limit {
        QCommandLineOption option;
        int* target;
        bool seconds;
    };
    const QList<Limit> limitOptions{
        {QCommandLineOption(QStringLiteral("request-timeout"), QString(), QStringLiteral("seconds")),
         &limits.requestTimeoutMs, true},
        {QCommandLineOption(QStringLiteral("idle-timeout"), QString(), QStringLiteral("seconds")),
         &limits.idleTimeoutMs, true},
        {QCommandLineOption(QStringLiteral("stt-silence-timeout"), QString(), QStringLiteral("seconds")),
         &limits.sttSilenceTimeoutMs, true},
        {QCommandLineOption(QStringLiteral("max-connections"), QString(), QStringLiteral("n")), &limits.maxConnections,
         false},
        {QCommandLineOption(QStringLiteral("max-streams"), QString(), QStringLiteral("n")), &limits.maxStreams, false},
        {QCommandLineOption(QStringLiteral("warm-decoders"), QString(), QStringLiteral("n")), &limits.warmDecoders,
         false},
        {QCommandLineOption(QStringLiteral("registrations-per-minute"), QString(), QStringLiteral("n")),
         &limits.registrationsPerMinute, false},
    };
    for (const Limit& limit : limitOptions)
        parser.addOption(limit.option);
    const QList<std::pair<QCommandLineOption, QString>> providerOptions{
        {QCommandLineOption(QStringLiteral("llm-base-url"), QString(), QStringLiteral("url")),
         QStringLiteral("QUIRO_LLM_BASE_URL")},
        {QCommandLineOption(QStringLiteral("llm-model"), QString(), QStringLiteral("name")),
         QStringLiteral("QUIRO_LLM_MODEL")},
        {QCommandLineOption(QStringLiteral("llm-price-in"), QString(), QStringLiteral("usd")),
         QStringLiteral("QUIRO_LLM_PRICE_IN")},
        {QCommandLineOption(QStringLiteral("llm-price-out"), QString(), QStringLiteral("usd")),
         QStringLiteral("QUIRO_LLM_PRICE_OUT")},
        {QCommandLineOption(QStringLiteral("llm-timeout"), QString(), QStringLiteral("seconds")),
         QStringLiteral("QUIRO_LLM_TIMEOUT")},
        {QCommandLineOption(QStringLiteral("stt-url"), QString(), QStringLiteral("url")),
         QStringLiteral("QUIRO_STT_URL")},
        {QCommandLineOption(QStringLiteral("stt-languages"), QString(), QStringLiteral("list")),
         QStringLiteral("QUIRO_STT_LANGUAGES")},
        {QCommandLineOption(QStringLiteral("stt-connect-timeout"), QString(), QStringLiteral("seconds")),
         QStringLiteral("QUIRO_STT_CONNECT_TIMEOUT")},
    };
    for (const auto& [option, variable] : providerOptions)
        parser.addOption(option);

    if (!parser.parse(arguments))
        return {Outcome::WrongUsage,
                parser.errorText() + QStringLiteral(". Run 'quiro-service --help' for the options.")};
    if (parser.isSet(helpOption))
        return {Outcome::Help, helpText(languages)};
    if (!parser.positionalArguments().isEmpty())
        return {Outcome::WrongUsage,
                QStringLiteral("Unexpected argument '%1'. Run 'quiro-service --help' for the options.")
                    .arg(parser.positionalArguments().first())};
    if (parser.isSet(hostOption))
        host = parser.value(hostOption);
    if (parser.isSet(portOption)) {
        bool ok = false;
        const uint value = parser.value(portOption).toUInt(&ok);
        if (!ok || value > 65535)
            return {Outcome::WrongUsage, QStringLiteral("--port must be a number from 0 to 65535.")};
        port = quint16(value);
    }
    for (const Limit& limit : limitOptions) {
        if (!parser.isSet(limit.option))
            continue;
        const QString name = limit.option.names().first();
        const auto value = limit.seconds ? milliseconds(parser.value(limit.option)) : count(parser.value(limit.option));
        if (!value)
            return {Outcome::WrongUsage,
                    limit.seconds ? QStringLiteral("--%1 must be a number of seconds from 0.001 to 3600.").arg(name)
                                  : QStringLiteral("--%1 must be a whole number from 1 to 100000.").arg(name)};
        *limit.target = *value;
    }
    for (const auto& [option, variable] : providerOptions) {
        if (parser.isSet(option))
            providerOverrides.insert(variable, parser.value(option));
    }
    dataDir = parser.isSet(dataOption) ? parser.value(dataOption) : Paths::home() + QStringLiteral("/.quiroai/service");
    tls = !parser.isSet(noTlsOption);
    return {Outcome::Run, QString()};
}

} // namespace quiro::service
