#include "audio/PacedLoop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <system_error>

namespace quiro {

PacedLoop::PacedLoop(QByteArray threadName, int paceMs)
    : m_threadName(std::move(threadName))
    , m_pace(paceMs)
    , m_loop(pa_mainloop_new())
    , m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_loop)
        pa_mainloop_set_poll_func(m_loop, &PacedLoop::poll, this);
}

PacedLoop::~PacedLoop()
{
    stop();
    if (m_loop)
        pa_mainloop_free(m_loop);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool PacedLoop::start()
{
    if (!m_loop || m_wakeFd < 0 || m_thread.joinable())
        return false;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void PacedLoop::run()
{
    pthread_setname_np(pthread_self(), m_threadName.left(15).constData());
    const std::lock_guard lock(m_mutex);
    pa_mainloop_run(m_loop, nullptr);
}

void PacedLoop::stop()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        pa_mainloop_quit(m_loop, 0);
        const uint64_t one = 1;
        // An eventfd write fails only when the counter would overflow: it is readable then anyway.
        (void)!::write(m_wakeFd, &one, sizeof one);
    }
    m_thread.join();
}

void PacedLoop::wait()
{
    std::unique_lock lock(m_mutex, std::adopt_lock);
    m_signal.wait(lock);
    lock.release(); // the caller still holds it
}

int PacedLoop::poll(struct pollfd* fds, unsigned long count, int timeoutMs, void* self)
{
    auto* loop = static_cast<PacedLoop*>(self);
    const std::chrono::milliseconds pace = loop->m_paced ? loop->m_pace : std::chrono::milliseconds(0);
    loop->m_mutex.unlock();
    const int result = pace.count() > 0 ? loop->pollPaced(fds, count, timeoutMs, pace) : ::poll(fds, count, timeoutMs);
    loop->m_mutex.lock();
    return result;
}

int PacedLoop::pollPaced(struct pollfd* fds, unsigned long count, int timeoutMs, std::chrono::milliseconds pace)
{
    using namespace std::chrono;
    // Whatever is there already is read at once: the server sends several messages at a time, and
    // one left unread would hold up all behind it.
    int ready = ::poll(fds, count, 0);
    if (ready != 0 || timeoutMs == 0)
        return ready;
    const steady_clock::time_point now = steady_clock::now();
    if (now < m_quietUntil) {
        // Audio gathers in the connection meanwhile; only stop() and the loop's own timers end the
        // quiet time early.
        const int quietMs = int(ceil<milliseconds>(m_quietUntil - now).count());
        const int sleepMs = timeoutMs < 0 ? quietMs : std::min(timeoutMs, quietMs);
        struct pollfd wake {
            m_wakeFd, POLLIN, 0
        };
        const bool stopping = ::poll(&wake, 1, sleepMs) > 0;
        if (stopping || sleepMs == timeoutMs)
            timeoutMs = 0;
        else if (timeoutMs > 0)
            timeoutMs -= sleepMs;
    }
    ready = ::poll(fds, count, timeoutMs);
    m_quietUntil = steady_clock::now() + pace;
    return ready;
}

} // namespace quiro
