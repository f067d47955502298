#pragma once

#include "conversation/Speaker.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <deque>
#include <memory>
#include <optional>
#include <utility>

namespace quiro {

// An unbounded stream of final transcripts, read one element at a time:
//
//     auto stream = client.transcripts();
//     while (auto pair = co_await stream.next()) { ... }
//
// The stream is a handle on state shared between the producer (DeepgramClient) and the
// consumer, so the consumer may keep waiting after the producer is gone: the producer finishes
// the stream when it stops or is destroyed, and a waiting consumer then gets nullopt. Elements
// pushed before the finish are still delivered (the stream drains first).
//
// Everything happens on one thread (the GUI thread). A waiting consumer is resumed from the event
// loop, never from inside push() or finish(), so the consumer may delete the producer while it
// handles an element. One consumer at a time.
class TranscriptStream {
public:
    using Element = std::pair<Speaker, QString>;

    TranscriptStream();

    // The next element; nullopt once the stream is finished and drained.
    QCoro::Task<std::optional<Element>> next();

    bool isFinished() const;

    // The elements not read yet, taken out of the stream: for a consumer that has to settle what
    // is left at once instead of one element per turn of the event loop.
    std::deque<Element> takePending();

    // Producer side.
    void push(Element element);
    void finish();

private:
    struct State {
        std::deque<Element> elements;
        bool finished = false;
        std::coroutine_handle<> waiter;
    };
    class Awaiter;

    static void wakeWaiter(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
};

} // namespace quiro
