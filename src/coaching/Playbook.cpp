#include "coaching/Playbook.h"

namespace quiro::Playbook {

const QHash<QString, int>& basePriority()
{
    static const QHash<QString, int> s_table{
        {QStringLiteral("buying_signal"), 10},  {QStringLiteral("price"), 8},
        {QStringLiteral("competition"), 8},     {QStringLiteral("authority"), 8},
        {QStringLiteral("trust"), 7},           {QStringLiteral("need"), 7},
        {QStringLiteral("urgency"), 7},         {QStringLiteral("client_hesitation"), 6},
        {QStringLiteral("manager_talking"), 5},
    };
    return s_table;
}

const QHash<QString, QString>& labels()
{
    // U+FE0F after the crossed swords and the warning sign makes them render as emoji; the shield
    // U+1F6E1 is deliberately written without it.
    static const QHash<QString, QString> s_table{
        {QStringLiteral("buying_signal"), QStringLiteral("\U0001F3AF Buying Signal")},
        {QStringLiteral("price"), QStringLiteral("\U0001F4B0 Price")},
        {QStringLiteral("competition"), QStringLiteral("\u2694\uFE0F Competitor")},
        {QStringLiteral("authority"), QStringLiteral("\U0001F464 Authority")},
        {QStringLiteral("trust"), QStringLiteral("\U0001F6E1 Trust")},
        {QStringLiteral("need"), QStringLiteral("\u2753 Need/Fit")},
        {QStringLiteral("urgency"), QStringLiteral("\u23F3 Urgency")},
        {QStringLiteral("manager_talking"), QStringLiteral("\U0001F507 Talk Less")},
        {QStringLiteral("overtalking"), QStringLiteral("\U0001F507 Talk Less")},
        {QStringLiteral("rushing"), QStringLiteral("\U0001F422 Slow Down")},
        {QStringLiteral("overselling"), QStringLiteral("\U0001F6D1 Stop Pitching")},
        {QStringLiteral("ignoring_objection"), QStringLiteral("\u26A0\uFE0F Handle Objection")},
        {QStringLiteral("premature_close"), QStringLiteral("\U0001F6AB Too Early")},
        {QStringLiteral("weak_close"), QStringLiteral("\U0001F91D Lock Next Step")},
        {QStringLiteral("discounting"), QStringLiteral("\U0001F48E Hold Price")},
        {QStringLiteral("vague_proof"), QStringLiteral("\U0001F4CB Be Specific")},
        {QStringLiteral("info_stall"), QStringLiteral("\U0001F4E7 Qualify Request")},
        {QStringLiteral("internal_process"), QStringLiteral("\U0001F4C5 Get Timeline")},
        {QStringLiteral("fear_of_change"), QStringLiteral("\U0001F504 Cost of Status Quo")},
    };
    return s_table;
}

const QHash<QString, QString>& fallback()
{
    static const QHash<QString, QString> s_table{
        {QStringLiteral("buying_signal"), QStringLiteral("Give next step: date and time now")},
        {QStringLiteral("price"), QStringLiteral("Ask what ROI would justify this")},
        {QStringLiteral("competition"), QStringLiteral("Ask what they value most in comparison")},
        {QStringLiteral("authority"), QStringLiteral("Ask who else owns this decision")},
        {QStringLiteral("trust"), QStringLiteral("Give a specific case study now")},
        {QStringLiteral("need"), QStringLiteral("Ask what a perfect fit looks like")},
        {QStringLiteral("urgency"), QStringLiteral("Ask what decision depends on")},
        {QStringLiteral("overtalking"), QStringLiteral("Pause. Ask a question.")},
        {QStringLiteral("rushing"), QStringLiteral("Slow down. One idea per sentence.")},
        {QStringLiteral("overselling"), QStringLiteral("Stop pitching. Ask a question.")},
        {QStringLiteral("ignoring_objection"), QStringLiteral("Handle objection first.")},
        {QStringLiteral("premature_close"), QStringLiteral("Discovery first \u2014 earn the close.")},
        {QStringLiteral("weak_close"), QStringLiteral("Ask for specific date and time.")},
        {QStringLiteral("discounting"), QStringLiteral("Hold price. Reframe value first.")},
        {QStringLiteral("vague_proof"), QStringLiteral("Name a specific client and result.")},
        {QStringLiteral("info_stall"), QStringLiteral("Ask what specific info they need")},
        {QStringLiteral("internal_process"), QStringLiteral("Ask when the next decision window opens")},
        {QStringLiteral("fear_of_change"), QStringLiteral("Ask what staying the same costs")},
    };
    return s_table;
}

const QSet<QString>& stageRelevance(Stage stage)
{
    static const QSet<QString> s_opening{QStringLiteral("manager_talking")};
    static const QSet<QString> s_discovery{QStringLiteral("need"), QStringLiteral("manager_talking"),
                                           QStringLiteral("client_hesitation")};
    static const QSet<QString> s_presentation{QStringLiteral("price"), QStringLiteral("trust"),
                                              QStringLiteral("competition"), QStringLiteral("client_hesitation")};
    static const QSet<QString> s_objection{QStringLiteral("price"),     QStringLiteral("trust"),
                                           QStringLiteral("need"),      QStringLiteral("urgency"),
                                           QStringLiteral("authority"), QStringLiteral("competition")};
    static const QSet<QString> s_closing{QStringLiteral("buying_signal"), QStringLiteral("urgency"),
                                         QStringLiteral("authority")};
    switch (stage) {
    case Stage::opening:
        return s_opening;
    case Stage::discovery:
        return s_discovery;
    case Stage::presentation:
        return s_presentation;
    case Stage::objection:
        return s_objection;
    case Stage::closing:
        return s_closing;
    }
    Q_UNREACHABLE();
    return s_opening;
}

QString label(const QString& category)
{
    return labels().value(category, QStringLiteral("\U0001F4A1 Hint"));
}

QString mapCategory(const QString& subType, const QString& intent)
{
    static const QHash<QString, QString> s_bySubType{
        {QStringLiteral("price"), QStringLiteral("price")},
        {QStringLiteral("trust"), QStringLiteral("trust")},
        {QStringLiteral("authority"), QStringLiteral("authority")},
        {QStringLiteral("urgency"), QStringLiteral("urgency")},
        {QStringLiteral("competitor"), QStringLiteral("competition")},
        {QStringLiteral("need"), QStringLiteral("need")},
        {QStringLiteral("process"), QStringLiteral("internal_process")},
        {QStringLiteral("change"), QStringLiteral("fear_of_change")},
        {QStringLiteral("info_stall"), QStringLiteral("info_stall")},
        {QStringLiteral("overtalking"), QStringLiteral("overtalking")},
        {QStringLiteral("rushing"), QStringLiteral("rushing")},
        {QStringLiteral("overselling"), QStringLiteral("overselling")},
        {QStringLiteral("ignoring_objection"), QStringLiteral("ignoring_objection")},
        {QStringLiteral("premature_close"), QStringLiteral("premature_close")},
        {QStringLiteral("weak_close"), QStringLiteral("weak_close")},
        {QStringLiteral("discounting"), QStringLiteral("discounting")},
        {QStringLiteral("vague_proof"), QStringLiteral("vague_proof")},
    };
    if (const auto it = s_bySubType.constFind(subType); it != s_bySubType.cend())
        return it.value();
    // A decorated sub-type ("strong_buying_signal") is still a buying signal.
    if (subType.contains(QLatin1String("buying_signal")) || intent == QLatin1String("BUYING_SIGNAL") ||
        intent == QLatin1String("CLOSING"))
        return QStringLiteral("buying_signal");
    if (intent == QLatin1String("SELLER_BEHAVIOR"))
        return QStringLiteral("overtalking");
    // Anything the table does not know is treated as a price question.
    return QStringLiteral("price");
}

} // namespace quiro::Playbook
