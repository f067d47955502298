#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

namespace quiro::test {

// A PulseAudio server of one test's own, on a socket in `folder`, with only the devices it asks for
// (module lines such as "module-sine-source source_name=sinemic"): the process (and every pactl it
// starts) talks to it while the object lives, so the test can take devices away and bring them
// back, or kill the server and start it again on the same socket (as a desktop restarts a crashed
// one), without touching the test desktop's shared server.
class PrivateSoundServer {
public:
    // Starts the server; answers() says whether it came up.
    PrivateSoundServer(const QString& folder, const QStringList& modules);
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Kills the server without letting it say goodbye to its clients, as a crash does.
    void kill();
    // Starts it (again after kill()) and waits until it answers; false when it does not within 10 s.
    bool start();

    // Whether the server answers.
    static bool answers();
    // Runs pactl against it; its output, or nothing when it failed.
    static std::optional<QString> pactl(const QStringList& arguments);

private:
    QStringList m_arguments;
    QByteArray m_oldServer;
    QProcess m_server;
};

} // namespace quiro::test
