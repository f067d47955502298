#pragma once

#include "coaching/DecisionEngine.h"
#include "coaching/Hint.h"
#include "coaching/HintEngine.h"
#include "conversation/ConversationBuffer.h"
#include "conversation/Speaker.h"
#include "core/Clock.h"
#include "core/Config.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

namespace quiro {

class ProductContext;

// The per-call heart of the coaching engine. Every final utterance of the call goes through
// onTurn(): it is recorded in the conversation buffer, then the seller's may earn a rule-based
// "talk less" hint and the client's are classified by the hint service, whose proposal the
// decision engine rules on. Longer client utterances also feed the fact ledger.
//
// Lives on the GUI thread; onTurn() may be entered again while an earlier turn still waits for
// the service. Destroying the coach aborts its requests (the hint engine is its child); turns and
// background tasks still running then finish without a hint and touch nothing of the coach.
class Coach : public QObject {
    Q_OBJECT

public:
    Coach(const Config& config, QString token, std::shared_ptr<const ProductContext> context,
          const Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~Coach() override;

    HintEngine* hints() const { return m_hints; }
    // Shared, so that a caller (or a background task) may keep it across an await.
    std::shared_ptr<ConversationBuffer> buffer() const { return m_buffer; }
    std::shared_ptr<const ProductContext> context() const { return m_context; }

    QCoro::Task<std::optional<Hint>> onTurn(Speaker speaker, QString text);

    // Starts a hint request for a phrase heard before its final transcript; the next qualifying
    // client turn uses its answer instead of asking again. Returns at once.
    void onKeywordDetected(QString keyword);

private:
    using LLMResult = std::optional<HintEngine::CategoryAndText>;

    std::optional<Hint> sellerTurn();
    QCoro::Task<std::optional<Hint>> clientTurn(QString text);
    QCoro::Task<LLMResult> getLLMResult(QString text);
    // Holds what it uses itself, so that it may outlive the coach.
    static QCoro::Task<LLMResult> requestHint(QPointer<HintEngine> hints, std::shared_ptr<ConversationBuffer> buffer,
                                              QString phrase);
    static QCoro::Task<void> extractAndStore(QPointer<HintEngine> hints, std::shared_ptr<ConversationBuffer> buffer,
                                             QString text);

    const std::shared_ptr<const ProductContext> m_context;
    const std::shared_ptr<ConversationBuffer> m_buffer;
    DecisionEngine m_decision;
    HintEngine* m_hints;
    std::optional<QCoro::Task<LLMResult>> m_prefetch;

    // Reset first thing in the destructor: a turn resumed while the coach is being torn down sees
    // it as gone.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace quiro
