#pragma once

#include <QObject>

class QSocketNotifier;
class QTcpSocket;
class QTimer;

namespace quiro::service {

// Closing a TCP connection while the peer is still sending makes the kernel answer with a reset,
// and a reset throws away what the peer had not read yet: the last answer (a 413, a WebSocket
// close frame with 1009) never arrives. So a connection the service ends while its peer may still
// be talking is closed gently: the socket's descriptor is duplicated before Qt closes its own,
// the write side is shut once everything is sent, and what the peer still sends is read and
// discarded until it closes too, `maxDrainBytes` arrived, or `timeoutMs` passed.
class LingeringClose final : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 maxDrainBytes = 64 * 1024 * 1024;

    // Call as (or just before) `socket` closes; the object lives under `owner` until done.
    static LingeringClose* begin(QTcpSocket* socket, int timeoutMs, QObject* owner);
    ~LingeringClose() override;

private:
    LingeringClose(int descriptor, int timeoutMs, QObject* owner);
    void shutDownWriting();
    void drain();
    void finish();

    int m_descriptor;
    bool m_writingShut = false;
    bool m_finished = false;
    qint64 m_drained = 0;
    QSocketNotifier* m_notifier = nullptr; // child
    QTimer* m_deadline = nullptr;          // child
};

} // namespace quiro::service
