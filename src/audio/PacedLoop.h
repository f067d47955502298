#pragma once

#include <QByteArray>

#include <pulse/mainloop.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quiro {

// A PulseAudio main loop on a thread of its own, used like pa_threaded_mainloop: one recursive
// lock, held by the loop except while it waits for something to happen, and wait()/signal() for a
// thread that needs an answer from it. The difference: while paced, after each wake-up it lets the
// server's deliveries gather for paceMs before it looks at the connection again. PulseAudio sends
// a record stream's audio in the blocks its device renders (a few milliseconds when a call's
// playback asks for low latency), whatever fragment size the stream asked for, and reading them one
// by one would wake the thread a hundred times a second.
// Timers still fire on time and stop() is seen at once; anything else another thread asks of the
// loop meanwhile (a timer it adds, a connection it opens) waits at most paceMs.
class PacedLoop {
public:
    PacedLoop(QByteArray threadName, int paceMs);
    ~PacedLoop(); // stops the thread
    PacedLoop(const PacedLoop&) = delete;
    PacedLoop& operator=(const PacedLoop&) = delete;

    pa_mainloop_api* api() { return pa_mainloop_get_api(m_loop); }

    // False when the thread could not be started.
    bool start();
    // Ends the loop and joins its thread. Not from the loop's own thread; without the lock.
    void stop();
    bool inThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    // With the lock held once: releases it until signal() is called, then takes it again.
    void wait();
    void signal() { m_signal.notify_all(); }

    // Whether reads are paced; off while a connection is being set up, whose round trips would
    // otherwise each wait paceMs. With the lock held.
    void setPaced(bool paced) { m_paced = paced; }
    // How long audio gathers between reads while paced. With the lock held.
    void setPace(int paceMs) { m_pace = std::chrono::milliseconds(paceMs); }

private:
    static int poll(struct pollfd* fds, unsigned long count, int timeoutMs, void* self);
    int pollPaced(struct pollfd* fds, unsigned long count, int timeoutMs, std::chrono::milliseconds pace);
    void run();

    const QByteArray m_threadName;
    std::chrono::milliseconds m_pace; // guarded by the lock
    pa_mainloop* m_loop = nullptr;
    int m_wakeFd = -1; // an eventfd that stop() writes: seen even while the loop lets audio gather
    std::recursive_mutex m_mutex;
    std::condition_variable_any m_signal;
    std::thread m_thread;
    bool m_paced = false;                               // guarded by the lock
    std::chrono::steady_clock::time_point m_quietUntil; // the loop thread's own
};

} // namespace quiro
