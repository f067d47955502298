#pragma once

#include "service/stt/SpeechBackend.h"

#include <atomic>
#include <memory>

class QThread;

namespace quiro::service {

class SpeechDecoder;
class SpeechModel;

// pocketsphinx on this machine: one continuous decoder per stream, on a thread of its own, giving
// a final result per utterance.
class PocketsphinxBackend final : public SpeechBackend {
    Q_OBJECT

public:
    // `maxQueuedBytes`: audio handed over but not decoded yet that a stream may have waiting; a
    // client that sends faster than the decoder keeps up is stopped rather than allowed to fill memory.
    PocketsphinxBackend(SpeechModel& model, QString language, qint64 maxQueuedBytes, QObject* parent);
    ~PocketsphinxBackend() override;

    void start() override;
    bool feed(const QByteArray& pcm) override;
    void finish() override;
    QString name() const override;

private:
    void onUtterance(const QString& transcript);

    SpeechModel& m_model;
    const QString m_language;
    const qint64 m_maxQueuedBytes;
    std::shared_ptr<std::atomic<qint64>> m_queuedBytes;
    QThread* m_thread = nullptr; // child
    // Lives on m_thread and is deleted only when that thread ends, in this object's destructor,
    // so the pointer stays valid for the backend's whole life.
    SpeechDecoder* m_decoder = nullptr;
};

} // namespace quiro::service
