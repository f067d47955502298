#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

namespace quiro::test {

// A sound server of one test's own, with only the devices it asks for (module lines such as
// "module-sine-source source_name=sinemic"): the process (and every pactl it starts) talks to it
// while the object lives, so the test can take devices away and bring them back without touching
// the test desktop's shared server.
class PrivateSoundServer {
public:
    PrivateSoundServer(const QString& folder, const QStringList& modules);
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Whether the server answers.
    static bool answers();
    // Runs pactl against it; its output, or nothing when it failed.
    static std::optional<QString> pactl(const QStringList& arguments);

private:
    QByteArray m_oldServer;
    QProcess m_server;
};

} // namespace quiro::test
