#include "conversation/CallState.h"

#include <QJsonArray>

#include <initializer_list>

namespace quiro {

namespace {

bool containsAny(const QString& lowerText, std::initializer_list<QLatin1String> keywords)
{
    for (const QLatin1String keyword : keywords) {
        if (lowerText.contains(keyword))
            return true;
    }
    return false;
}

} // namespace

QJsonObject CallStateSnapshot::toDict() const
{
    return QJsonObject{
        {QStringLiteral("pain_surfaced"), painSurfaced},
        {QStringLiteral("decision_maker_on_call"), decisionMakerOnCall},
        {QStringLiteral("budget_discussed"), budgetDiscussed},
        {QStringLiteral("objections_handled"), QJsonArray::fromStringList(objectionsHandled)},
        {QStringLiteral("next_step_agreed"), nextStepAgreed},
    };
}

void CallState::update(const QString& clientText)
{
    const QString lower = clientText.toLower();
    // "frustrat" is a stem: it catches frustrated, frustrating and frustration alike.
    if (containsAny(lower, {QLatin1String("problem"), QLatin1String("issue"), QLatin1String("barely"),
                            QLatin1String("struggling"), QLatin1String("losing"), QLatin1String("frustrat")}))
        m_painSurfaced = true;
    // The client naming someone else who decides means the decision maker is not on the call.
    if (containsAny(lower, {QLatin1String("partner"), QLatin1String("manager"), QLatin1String("boss"),
                            QLatin1String("director"), QLatin1String("my team"), QLatin1String("head doctor"),
                            QLatin1String("controls the budget")}))
        m_decisionMakerOnCall = false;
    if (containsAny(lower, {QLatin1String("cost"), QLatin1String("price"), QLatin1String("expensive"),
                            QLatin1String("dollars"), QLatin1String("budget"), QLatin1String("how much")}))
        m_budgetDiscussed = true;
}

void CallState::markHandled(const QString& item)
{
    if (!m_objectionsHandled.contains(item))
        m_objectionsHandled.append(item);
}

CallStateSnapshot CallState::snapshot() const
{
    return CallStateSnapshot{m_painSurfaced, m_decisionMakerOnCall, m_budgetDiscussed, m_objectionsHandled,
                             m_nextStepAgreed};
}

} // namespace quiro
