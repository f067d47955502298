#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <optional>

namespace quiro::test {

// Runs the event loop until the task finishes or `timeoutMs` pass. Absent on time-out, so a
// coroutine that never resumes fails its test instead of hanging it. The task keeps running
// after a time-out; its result then goes nowhere.
template <typename T> std::optional<T> awaitTask(QCoro::Task<T>&& task, int timeoutMs = 5000)
{
    struct State {
        std::optional<T> result;
        QEventLoop loop;
    };
    auto state = std::make_shared<State>();
    std::weak_ptr<State> weak = state;
    auto continuation = task.then([weak](T&& value) {
        if (auto alive = weak.lock()) {
            alive->result = std::move(value);
            alive->loop.quit();
        }
    });
    if (!state->result) {
        QTimer::singleShot(timeoutMs, &state->loop, [&loop = state->loop] { loop.quit(); });
        state->loop.exec();
    }
    return std::move(state->result);
}

// The same for a task without a result: true when it finished in time.
inline bool awaitTask(QCoro::Task<void>&& task, int timeoutMs = 5000)
{
    auto withResult = [](QCoro::Task<void> inner) -> QCoro::Task<bool> {
        co_await std::move(inner);
        co_return true;
    };
    return awaitTask(withResult(std::move(task)), timeoutMs).has_value();
}

} // namespace quiro::test
