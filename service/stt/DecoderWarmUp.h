#pragma once

#include <QString>

#include <atomic>
#include <memory>

class QThread;

namespace quiro::service {

class SpeechModel;

// Loads the decoders a language will need, on a thread of its own from the service's start: the
// first at once, so the first stream does not wait for a load, then the others at the lowest
// scheduling priority, so that loading ahead never slows a running stream or the rest of the
// machine. Says in the log how many are ready, or why none could be loaded.
class DecoderWarmUp {
public:
    DecoderWarmUp(SpeechModel& model, QString language, size_t decoders);
    // Waits for the decoder being loaded; no more are started.
    ~DecoderWarmUp();
    DecoderWarmUp(const DecoderWarmUp&) = delete;
    DecoderWarmUp& operator=(const DecoderWarmUp&) = delete;

    void start();

private:
    void run();

    SpeechModel& m_model;
    const QString m_language;
    const size_t m_decoders;
    std::atomic<bool> m_stop{false};
    std::unique_ptr<QThread> m_thread;
};

} // namespace quiro::service
