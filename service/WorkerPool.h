#pragma once

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>

namespace quiro::service {

// Where the slow work of requests runs (password hashing, call analysis), off the event loop:
// one thread per core but one (at least one, at most four), so the event loop keeps a core, and
// at a lower scheduling priority, so when cores are scarce the loop's quick answers go first.
class WorkerPool {
public:
    WorkerPool();
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // `function(args...)` on a worker; the future has its result.
    template <typename Function, typename... Args> auto run(Function function, Args... args)
    {
        return QtConcurrent::run(&m_pool, [function, args...] {
            yieldToTheEventLoop();
            return std::invoke(function, args...);
        });
    }

    // Drops work not started yet and waits for what runs: called before the objects the work
    // reports back to go away.
    void shutdown();

private:
    // Lowers the calling worker thread's priority, once per thread.
    static void yieldToTheEventLoop();

    QThreadPool m_pool;
};

} // namespace quiro::service
