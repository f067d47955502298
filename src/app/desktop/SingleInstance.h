#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace quiro {

// One desktop app per user. The first instance holds a lock file and listens on a private local
// socket in the user's runtime folder; a second one asks it, through that socket, to bring its
// main window forward and then leaves. The lock (not the socket) decides who is first, so two
// starts at the same moment cannot both win, and a crashed instance's lock is taken over.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `folder`: where the lock and the socket live; the user's runtime folder by default.
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        first,      // this process is the app; it now listens for later starts
        handedOver, // another instance runs and was asked to show itself
        failed,     // neither: the folder cannot be used (said in problem())
    };
    Claim claim();
    QString problem() const { return m_problem; }

signals:
    // A later start wants the main window to come forward.
    void activationRequested();

private:
    bool askTheFirst();

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QString m_problem;
};

} // namespace quiro
