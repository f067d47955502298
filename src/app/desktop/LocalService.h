#pragma once

#include "core/Config.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

namespace quiro {

// The local reference service, started on demand: when the program talks to the service on this
// machine's loopback address and nothing answers there, the bundled quiro-service is started as a
// child of the app, with its log in ~/.quiroai/service/, and stopped when the app quits. A service
// the user runs (by hand, or with the systemd user unit) is left alone.
class LocalService final : public QObject {
    Q_OBJECT
public:
    explicit LocalService(Config config, QObject* parent = nullptr);
    ~LocalService() override; // stops the child, if we started one

    enum class Outcome {
        notLocal,       // the API base is another machine: nothing to do
        alreadyRunning, // something answers on the port
        started,        // our child now answers
        failed,         // see problem()
    };
    // Completes once the service answers, or with the reason it does not.
    QCoro::Task<Outcome> ensureRunning();
    QString problem() const { return m_problem; }
    bool ownsChild() const { return m_child.state() != QProcess::NotRunning; }

    // The quiro-service beside this program (installed), or in the build tree.
    static std::optional<QString> binary();
    static constexpr int startTimeoutMs = 15'000;

private:
    QCoro::Task<bool> answers(quint16 port) const;

    Config m_config;
    QProcess m_child;
    QString m_problem;
};

} // namespace quiro
