#include "transcription/TranscriptStream.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quiro {

class TranscriptStream::Awaiter {
public:
    explicit Awaiter(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {
    }

    bool await_ready() const noexcept { return !m_state->elements.empty() || m_state->finished; }
    void await_suspend(std::coroutine_handle<> handle) noexcept
    {
        Q_ASSERT_X(!m_state->waiter, "TranscriptStream::next", "one consumer at a time");
        m_state->waiter = handle;
    }
    void await_resume() const noexcept {}

private:
    std::shared_ptr<State> m_state;
};

TranscriptStream::TranscriptStream()
    : m_state(std::make_shared<State>())
{
}

QCoro::Task<std::optional<TranscriptStream::Element>> TranscriptStream::next()
{
    // The coroutine holds its own reference: the handle it was called on may be gone when it resumes.
    auto state = m_state;
    co_await Awaiter(state);
    if (state->elements.empty())
        co_return std::nullopt;
    Element element = std::move(state->elements.front());
    state->elements.pop_front();
    co_return element;
}

bool TranscriptStream::isFinished() const
{
    return m_state->finished;
}

std::deque<TranscriptStream::Element> TranscriptStream::takePending()
{
    return std::exchange(m_state->elements, {});
}

void TranscriptStream::push(Element element)
{
    if (m_state->finished)
        return;
    m_state->elements.push_back(std::move(element));
    wakeWaiter(m_state);
}

void TranscriptStream::finish()
{
    if (m_state->finished)
        return;
    m_state->finished = true;
    wakeWaiter(m_state);
}

void TranscriptStream::wakeWaiter(const std::shared_ptr<State>& state)
{
    if (!state->waiter)
        return;
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    const std::coroutine_handle<> handle = std::exchange(state->waiter, {});
    // Resumed from the event loop so that the consumer never runs inside the producer's call stack.
    QMetaObject::invokeMethod(
        app, [handle] { handle.resume(); }, Qt::QueuedConnection);
}

} // namespace quiro
