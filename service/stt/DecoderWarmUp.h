#pragma once

#include <QString>

#include <atomic>
#include <memory>

class QThread;

namespace quiro::service {

class SpeechModel;

// Keeps decoders of a language loaded ahead of the streams that will need them, on a thread of its
// own for the service's life: the first at once from the start, so the first stream does not wait
// for a load, and the next ones whenever a stream takes one, at the lowest scheduling priority so
// that loading ahead never slows a running stream or the rest of the machine. Says in the log how
// many are ready, or why none could be loaded.
class DecoderWarmUp {
public:
    DecoderWarmUp(SpeechModel& model, QString language);
    // Waits for the decoder being loaded; no more are started.
    ~DecoderWarmUp();
    DecoderWarmUp(const DecoderWarmUp&) = delete;
    DecoderWarmUp& operator=(const DecoderWarmUp&) = delete;

    void start();

private:
    void run();

    SpeechModel& m_model;
    const QString m_language;
    std::atomic<bool> m_stop{false};
    std::unique_ptr<QThread> m_thread;
};

} // namespace quiro::service
