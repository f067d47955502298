// Stand-ins for a chat-completions server and a hosted live recognizer on 127.0.0.1, for running
// quiro-service by hand with its providers configured (see console-with-fakes.sh):
//   fake_upstreams chat         answers every completion with a hint, facts and an analysis
//   fake_upstreams recognizer   hears audio and answers with a scripted client's lines
// Prints "listening on PORT" and runs until SIGTERM or SIGINT.

#include "FakeChat.h"
#include "FakeRecognizer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int s_signalFds[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(s_signalFds[0], &byte, 1);
}

// A client's side of a call, one line per four seconds of audio.
const QStringList clientLines{
    "thanks for having me we run four clinics",
    "honestly this looks too expensive for us",
    "we already use another vendor for scheduling",
    "how soon could we get started",
};
constexpr qint64 bytesPerLine = 4 * 16000 * 2;

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString kind = app.arguments().value(1);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_signalFds) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier signalNotifier(s_signalFds[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    quint16 port = 0;
    quiro::test::ScriptedHttpServer chat;
    FakeRecognizer recognizer(clientLines, bytesPerLine);
    if (kind == QLatin1String("chat") && chat.start()) {
        chat.setReply(FakeChat::path,
                      FakeChat::completion(FakeChat::everyEndpoint("Fake model: ask what budget they set"), 900, 40));
        port = chat.port();
    } else if (kind == QLatin1String("recognizer") && recognizer.start()) {
        port = recognizer.port();
    } else {
        QTextStream(stderr) << "usage: fake_upstreams chat|recognizer (and a free port on 127.0.0.1)\n";
        return 2;
    }
    QTextStream(stdout) << "listening on " << port << Qt::endl;
    return app.exec();
}
