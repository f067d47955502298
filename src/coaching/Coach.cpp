#include "coaching/Coach.h"

#include "coaching/Playbook.h"
#include "coaching/ProductContext.h"
#include "conversation/WordCount.h"

namespace quiro {

namespace {

const QString managerTalking = QStringLiteral("manager_talking");

// Seller turns are judged only once the call has some history, and only when the seller clearly
// dominates it.
constexpr qsizetype sellerMinTurns = 6;
constexpr double sellerMaxTalkRatio = 0.72;
// A client utterance shorter than this is acknowledgement or filler, not worth a request.
constexpr qsizetype clientMinWords = 4;
// Within this time after a shown hint no new one could pass the cooldown anyway; spare the request.
constexpr double clientMinSecondsSinceHint = 5.0;

} // namespace

Coach::Coach(const Config& config, QString token, std::shared_ptr<const ProductContext> context, const Clock& clock,
             QObject* parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_buffer(std::make_shared<ConversationBuffer>(clock))
    , m_decision(clock)
    , m_hints(new HintEngine(config, std::move(token), m_context, this))
{
}

Coach::~Coach()
{
    m_alive.reset();
    // A prefetch still running is left to finish on its own; it holds only the buffer and a guarded
    // pointer to the hint engine, whose requests are aborted when the engine goes with this object.
    m_prefetch.reset();
}

QCoro::Task<std::optional<Hint>> Coach::onTurn(Speaker speaker, QString text)
{
    // Every utterance is recorded, whatever follows: it moves the stage and the milestones.
    m_buffer->add(speaker, text);
    if (speaker == Speaker::manager)
        co_return sellerTurn();
    co_return co_await clientTurn(std::move(text));
}

std::optional<Hint> Coach::sellerTurn()
{
    if (m_buffer->turnCount() < sellerMinTurns)
        return std::nullopt;
    if (!(m_buffer->managerTalkRatio() > sellerMaxTalkRatio))
        return std::nullopt;
    const Stage stage = m_buffer->stage();

    // The decision step: scoring and commit run without a suspension point in between, so on the
    // GUI thread no other turn can score or commit in the middle. Keep it free of co_await.
    if (!m_decision.shouldFire(managerTalking, stage))
        return std::nullopt;
    m_decision.commit(managerTalking);

    // Without a text the hint would not enter the duplicate list; a talk-less hint is allowed to
    // repeat, held back only by the category and frequency penalties.
    const QString text =
        Playbook::fallback().value(QStringLiteral("overtalking"), QStringLiteral("Pause. Ask a question."));
    return Hint{text, Playbook::label(managerTalking), managerTalking, rawValue(stage)};
}

QCoro::Task<std::optional<Hint>> Coach::clientTurn(QString text)
{
    if (wordCount(text) < clientMinWords)
        co_return std::nullopt;
    if (m_decision.secondsSinceLastHint() < clientMinSecondsSinceHint) {
        // A prefetched answer is about a moment that has passed by the time a hint may show again.
        m_prefetch.reset();
        co_return std::nullopt;
    }

    // Facts are stored whenever they arrive; the hint does not wait for them.
    [[maybe_unused]] QCoro::Task<void> extraction = extractAndStore(m_hints, m_buffer, text);

    const std::weak_ptr<int> alive = m_alive;
    const LLMResult result = co_await getLLMResult(text);
    if (alive.expired() || !result)
        co_return std::nullopt;
    const auto& [category, hintText] = *result;
    const Stage stage = m_buffer->stage();

    // The decision step: duplicate test, scoring and commit with no suspension point in between.
    // All turns run on the GUI thread, so another turn's reply cannot be decided in the middle of
    // this one and two replies arriving together cannot both pass the cooldown. Keep it free of
    // co_await.
    if (m_decision.isDuplicateText(hintText))
        co_return std::nullopt;
    if (!m_decision.shouldFire(category, stage))
        co_return std::nullopt;
    m_decision.commit(category, hintText);

    m_buffer->markHandled(category);
    if (category == QLatin1String("closing_signal") || category == QLatin1String("buying_signal"))
        m_buffer->setNextStepAgreed();
    co_return Hint{hintText, Playbook::label(category), category, rawValue(stage)};
}

QCoro::Task<Coach::LLMResult> Coach::getLLMResult(QString text)
{
    if (m_prefetch) {
        // Taken out of the slot before waiting, so that a second turn cannot wait on the same task
        // and show the same prefetched hint twice.
        QCoro::Task<LLMResult> prefetch = std::move(*m_prefetch);
        m_prefetch.reset();
        const std::weak_ptr<int> alive = m_alive;
        LLMResult prefetched = co_await prefetch;
        if (alive.expired())
            co_return std::nullopt;
        // Computed for the prefetched phrase, not this utterance; that is the point of prefetching.
        if (prefetched)
            co_return prefetched;
    }
    co_return co_await requestHint(m_hints, m_buffer, std::move(text));
}

void Coach::onKeywordDetected(QString keyword)
{
    if (m_prefetch)
        return;
    m_prefetch = requestHint(m_hints, m_buffer, std::move(keyword));
}

QCoro::Task<Coach::LLMResult> Coach::requestHint(QPointer<HintEngine> hints, std::shared_ptr<ConversationBuffer> buffer,
                                                 QString phrase)
{
    if (!hints)
        co_return std::nullopt;
    const QString context = buffer->contextStr();
    const Stage stage = buffer->stage();
    const double ratio = buffer->managerTalkRatio();
    const CallStateSnapshot callState = buffer->callStateSnapshot();
    // The engine aborts its requests when destroyed, so this returns (empty) even if it goes away.
    co_return co_await hints->classifyAndGenerate(std::move(phrase), context, stage, ratio, callState);
}

QCoro::Task<void> Coach::extractAndStore(QPointer<HintEngine> hints, std::shared_ptr<ConversationBuffer> buffer,
                                         QString text)
{
    if (!hints)
        co_return;
    const QStringList facts = co_await hints->extractFacts(std::move(text));
    for (const QString& fact : facts)
        buffer->addFact(fact);
}

} // namespace quiro
