#include "service/coach/CoachRequest.h"

#include "service/coach/CallAnalyzer.h"

namespace quiro::service::CoachRequest {

namespace {

// Reads members one after another: the first wrong one decides the error, the rest are skipped.
class Members {
public:
    explicit Members(QJsonObject object)
        : m_object(std::move(object))
    {
    }

    QString required(const char* key)
    {
        return m_ok ? check(requireString(m_object, QLatin1String(key), m_error)).value_or(QString()) : QString();
    }
    QString text(const char* key)
    {
        return m_ok ? check(optionalString(m_object, QLatin1String(key), m_error)).value_or(QString()) : QString();
    }
    std::optional<double> number(const char* key)
    {
        return m_ok ? check(optionalNumber(m_object, QLatin1String(key), m_error)).value_or(std::nullopt)
                    : std::nullopt;
    }
    QJsonObject object(const char* key)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (m_ok && !value.isUndefined() && !value.isNull() && !value.isObject()) {
            m_ok = false;
            m_error = ApiReply::error(422, QStringLiteral("\"%1\" must be an object").arg(QLatin1String(key)));
        }
        return value.toObject();
    }

    template <typename Request> Parsed<Request> result(Request request) const
    {
        if (!m_ok)
            return {std::nullopt, m_error};
        return {std::move(request), {}};
    }

private:
    template <typename Value> std::optional<Value> check(std::optional<Value> value)
    {
        m_ok = value.has_value();
        return value;
    }

    QJsonObject m_object;
    ApiReply m_error;
    bool m_ok = true;
};

// The members of a body that is a JSON object, or the 400 that says why it is not one.
template <typename Request, typename Read> Parsed<Request> parse(const QByteArray& body, Read read)
{
    const JsonBody parsed = parseJsonBody(body);
    if (!parsed.object)
        return {std::nullopt, parsed.error};
    Members members(*parsed.object);
    // Braced initialisation reads the members in the order written, so the first wrong one is reported.
    Request request = read(members);
    return members.result(std::move(request));
}

} // namespace

Parsed<Hint> hint(const QByteArray& body)
{
    return parse<Hint>(body, [](Members& m) {
        return Hint{m.required("phrase"),          m.text("context"),         m.text("stage"),
                    m.text("stage_goal"),          m.text("product_context"), m.text("objection_responses"),
                    m.number("seller_talk_ratio"), m.object("call_state")};
    });
}

Parsed<Extract> extract(const QByteArray& body)
{
    return parse<Extract>(body, [](Members& m) { return Extract{m.required("phrase")}; });
}

Parsed<Assist> assist(const QByteArray& body)
{
    return parse<Assist>(body, [](Members& m) { return Assist{m.required("transcript"), m.text("product_context")}; });
}

Parsed<Analyze> analyze(const QByteArray& body)
{
    Parsed<Analyze> parsed = parse<Analyze>(body, [](Members& m) {
        return Analyze{m.required("transcript"), m.number("duration_sec"), m.number("talk_ratio"),
                       m.number("hint_count"),   m.text("started_at"),     m.text("ended_at"),
                       m.text("product_context")};
    });
    // Nobody can analyse a call of which nothing was said.
    if (parsed.request && CallAnalyzer::parseTranscript(parsed.request->transcript).isEmpty())
        return {std::nullopt, ApiReply::error(422, noLinesToAnalyse)};
    return parsed;
}

} // namespace quiro::service::CoachRequest
