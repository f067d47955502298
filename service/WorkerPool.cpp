#include "service/WorkerPool.h"

#include <QThread>

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace quiro::service {

namespace {

// Nice 10: about a tenth of the processor time of the event loop's thread when both want it.
constexpr int workerNiceness = 10;

} // namespace

WorkerPool::WorkerPool()
{
    m_pool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 4));
}

WorkerPool::~WorkerPool()
{
    shutdown();
}

void WorkerPool::shutdown()
{
    m_pool.clear();
    m_pool.waitForDone();
}

void WorkerPool::yieldToTheEventLoop()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // On Linux the nice value belongs to the thread named by its id; failing leaves it as it is.
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), workerNiceness);
}

} // namespace quiro::service
