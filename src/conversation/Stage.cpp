#include "conversation/Stage.h"

namespace quiro {

QString rawValue(Stage stage)
{
    switch (stage) {
    case Stage::opening:
        return QStringLiteral("opening");
    case Stage::discovery:
        return QStringLiteral("discovery");
    case Stage::presentation:
        return QStringLiteral("presentation");
    case Stage::objection:
        return QStringLiteral("objection");
    case Stage::closing:
        return QStringLiteral("closing");
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<Stage> stageFromRawValue(const QString& raw)
{
    for (const Stage stage : allStages()) {
        if (rawValue(stage) == raw)
            return stage;
    }
    return std::nullopt;
}

const std::array<Stage, 5>& allStages()
{
    static const std::array<Stage, 5> s_stages{Stage::opening, Stage::discovery, Stage::presentation, Stage::objection,
                                               Stage::closing};
    return s_stages;
}

namespace Playbook {

QString stageGoal(Stage stage)
{
    switch (stage) {
    case Stage::opening:
        return QStringLiteral("Build trust and earn the right to ask questions");
    case Stage::discovery:
        return QStringLiteral("Uncover the pain and its business impact (SPIN)");
    case Stage::presentation:
        return QStringLiteral("Tie product value directly to the client's pain");
    case Stage::objection:
        return QStringLiteral("Acknowledge the objection first, then reframe it");
    case Stage::closing:
        return QStringLiteral("Lock in a concrete next step with a specific date");
    }
    Q_UNREACHABLE();
    return {};
}

const QMap<Stage, QStringList>& stageSignals()
{
    static const QMap<Stage, QStringList> s_signals{
        {Stage::discovery,
         {QStringLiteral("problem"), QStringLiteral("challenge"), QStringLiteral("currently"),
          QStringLiteral("how do you"), QStringLiteral("tell me about"), QStringLiteral("what does"),
          QStringLiteral("what are")}},
        {Stage::presentation,
         {QStringLiteral("we offer"), QStringLiteral("our product"), QStringLiteral("our solution"),
          QStringLiteral("we help"), QStringLiteral("it allows"), QStringLiteral("features"),
          QStringLiteral("platform")}},
        // "but " keeps its trailing blank so that words like "button" or "attribute" do not count.
        {Stage::objection,
         {QStringLiteral("expensive"), QStringLiteral("not sure"), QStringLiteral("but "), QStringLiteral("however"),
          QStringLiteral("need to think"), QStringLiteral("too much"), QStringLiteral("already have")}},
        {Stage::closing,
         {QStringLiteral("contract"), QStringLiteral("next step"), QStringLiteral("when can we"),
          QStringLiteral("sign"), QStringLiteral("payment"), QStringLiteral("start date"),
          QStringLiteral("move forward")}},
    };
    return s_signals;
}

Stage detectStage(const QString& historyText, qsizetype turnCount)
{
    const QString lower = historyText.toLower();
    // A keyword counts once however often it occurs, so a client repeating "problem" does not
    // outweigh a conversation that touches several discovery topics.
    Stage best = Stage::opening;
    qsizetype bestScore = 0;
    const auto& table = stageSignals();
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        qsizetype score = 0;
        for (const QString& keyword : it.value()) {
            if (lower.contains(keyword))
                ++score;
        }
        // The map iterates in case order and only a strictly higher score replaces the best,
        // so ties go to the earlier stage.
        if (score > bestScore) {
            best = it.key();
            bestScore = score;
        }
    }
    if (bestScore == 0)
        return turnCount < 3 ? Stage::opening : Stage::discovery;
    return best;
}

} // namespace Playbook

} // namespace quiro
