#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace quiro::test {

// A PulseAudio server of the test's own, on a socket in `folder`, that the test can kill and start
// again on the same socket (as a desktop restarts a crashed one). While the object lives,
// PULSE_SERVER points at that socket; afterwards it is restored.
class PrivateSoundServer {
public:
    // modules: the server's whole configuration besides its socket, one "-L" argument each
    // ("module-null-sink sink_name=spk").
    PrivateSoundServer(const QString& folder, QStringList modules);
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Starts the server and waits until it answers; false when it does not within 10 s.
    bool start();
    // Kills the server without letting it say goodbye to its clients, as a crash does.
    void kill();

    static bool answers();

private:
    QString m_folder;
    QStringList m_modules;
    QByteArray m_oldServer;
    QProcess m_server;
};

} // namespace quiro::test
