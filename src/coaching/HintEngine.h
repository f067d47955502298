#pragma once

#include "conversation/CallState.h"
#include "conversation/Stage.h"
#include "core/Config.h"

#include <QCoroTask>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QNetworkAccessManager;

namespace quiro {

class ProductContext;

// How long each hint service request may take before it is given up. Tests shorten them.
struct HintEngineTimeouts {
    int hintMs = 10'000;
    int extractMs = 6'000;
    int assistMs = 8'000;
    int analyzeMs = 60'000;
};

// The client of the hint service: classify an utterance into a hint ("/hint"), extract key facts
// ("/extract"), a hint on demand ("/assist") and the post-call analysis ("/analyze"). Every
// failure is an empty result and at most one log line; nothing is thrown to the caller.
//
// Lives on the GUI thread. Requests may overlap. If the engine is destroyed while requests are
// in flight, they are aborted and their coroutines finish with an empty result.
class HintEngine : public QObject {
    Q_OBJECT

public:
    static constexpr double confidenceThreshold = 0.65;
    static constexpr int maxHintWords = 8;

    // (0, 0, cost): told of every cost the service reports.
    using UsageCallback = std::function<void(int, int, double)>;
    using CategoryAndText = std::pair<QString, QString>;

    HintEngine(const Config& config, QString token, std::shared_ptr<const ProductContext> context,
               QObject* parent = nullptr);
    ~HintEngine() override;

    void setTimeouts(const HintEngineTimeouts& timeouts) { m_timeouts = timeouts; }

    QCoro::Task<std::optional<CategoryAndText>>
    classifyAndGenerate(QString phrase, QString contextStr, Stage stage, double sellerTalkRatio = 0.5,
                        std::optional<CallStateSnapshot> callState = std::nullopt);
    QCoro::Task<QStringList> extractFacts(QString phrase);
    QCoro::Task<std::optional<QString>> generateOnDemand(QString transcript);
    QCoro::Task<std::optional<QJsonObject>> analyze(QString transcript, double durationSec, double talkRatio,
                                                    int hintCount, QString startedAt, QString endedAt);

    double totalLLMCost() const;
    int totalCalls() const;
    void setOnUsage(UsageCallback callback);

    // Removes markdown emphasis and code marks, then trims quotes, blanks and list/heading marks
    // from both ends.
    static QString stripMarkdown(const QString& text);
    // Reads the JSON object out of a model's answer that may be fenced or wrapped in prose.
    static std::optional<QJsonObject> parseJSON(const QString& raw);
    // The first `count` words joined by single blanks.
    static QString firstWords(const QString& text, int count);

private:
    QCoro::Task<std::optional<QJsonObject>> post(QString path, QJsonObject body, int timeoutMs);
    // Counts one model call and its cost, if any, and tells the usage callback.
    void recordCall(const QJsonObject& reply);
    QString productContextText() const;

    QNetworkAccessManager* m_network;
    const QString m_apiBase;
    const QString m_token;
    const std::shared_ptr<const ProductContext> m_context;
    HintEngineTimeouts m_timeouts;

    // Reset first thing in the destructor: a coroutine resumed by the abort of its reply sees the
    // engine as gone although the QObject is not destroyed yet.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);

    // Continuations of overlapping requests update these; the lock keeps every update even if a
    // continuation ever runs off the GUI thread.
    mutable QMutex m_countersMutex;
    double m_totalLLMCost = 0.0;
    int m_totalCalls = 0;
    UsageCallback m_onUsage;
};

} // namespace quiro
