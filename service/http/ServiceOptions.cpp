#include "service/http/ServiceOptions.h"

#include "core/Paths.h"

#include <QCommandLineParser>

namespace quiro::service {

QString ServiceOptions::helpText(const QStringList& languages)
{
    return QStringLiteral(
               "Usage: quiro-service [--host ADDRESS] [--port PORT] [--data-dir FOLDER] [--no-tls]\n"
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
    dataDir = parser.isSet(dataOption) ? parser.value(dataOption) : Paths::home() + QStringLiteral("/.quiroai/service");
    tls = !parser.isSet(noTlsOption);
    return {Outcome::Run, QString()};
}

} // namespace quiro::service
