#include "service/http/LingeringClose.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace quiro::service {

LingeringClose* LingeringClose::begin(QTcpSocket* socket, int timeoutMs, QObject* owner)
{
    const qintptr descriptor = socket->socketDescriptor();
    if (descriptor < 0 || socket->state() != QAbstractSocket::ConnectedState)
        return nullptr;
    const int duplicate = ::dup(int(descriptor));
    if (duplicate < 0)
        return nullptr;
    auto* linger = new LingeringClose(duplicate, timeoutMs, owner);
    // Qt has written everything once it reports the socket closed (or is gone).
    QPointer<LingeringClose> guard(linger);
    const auto written = [guard] {
        if (guard)
            guard->shutDownWriting();
    };
    QObject::connect(socket, &QAbstractSocket::disconnected, linger, written);
    QObject::connect(socket, &QObject::destroyed, linger, written);
    // A peer that never reads keeps Qt flushing: the deadline ends that too.
    QObject::connect(linger->m_deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    return linger;
}

LingeringClose::LingeringClose(int descriptor, int timeoutMs, QObject* owner)
    : QObject(owner)
    , m_descriptor(descriptor)
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &LingeringClose::finish);
    m_deadline->start(timeoutMs);
}

LingeringClose::~LingeringClose()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

void LingeringClose::shutDownWriting()
{
    if (m_writingShut || m_finished)
        return;
    m_writingShut = true;
    ::shutdown(m_descriptor, SHUT_WR);
    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LingeringClose::drain);
    drain();
}

void LingeringClose::drain()
{
    char buffer[64 * 1024];
    while (true) {
        const ssize_t got = ::read(m_descriptor, buffer, sizeof buffer);
        if (got > 0) {
            m_drained += got;
            if (m_drained > maxDrainBytes)
                return finish();
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;      // wait for more
        return finish(); // the peer closed, or the connection failed
    }
}

void LingeringClose::finish()
{
    m_finished = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    m_deadline->stop();
    deleteLater();
}

} // namespace quiro::service
