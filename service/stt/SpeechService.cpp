#include "service/stt/SpeechService.h"

#include "core/Log.h"
#include "service/Address.h"
#include "service/stt/PocketsphinxBackend.h"
#include "service/stt/SpeechModel.h"

#include <QJsonArray>

namespace quiro::service {

namespace {

// "en-US", "en_us" and "EN" all ask for English; the base decides.
QString baseLanguage(const QString& language)
{
    return language.trimmed().toLower().replace(QLatin1Char('_'), QLatin1Char('-')).section(QLatin1Char('-'), 0, 0);
}

} // namespace

SpeechService::SpeechService(SpeechModel& model, std::optional<SpeechUpstream> upstream)
    : m_model(model)
    , m_upstream(std::move(upstream))
{
}

QStringList SpeechService::languages() const
{
    QStringList languages = m_model.languages();
    if (m_upstream)
        languages += m_upstream->languages;
    languages.sort();
    languages.removeDuplicates();
    return languages;
}

bool SpeechService::relays(const QString& language) const
{
    if (!m_upstream)
        return false;
    const QString requested = language.trimmed().toLower().replace(QLatin1Char('_'), QLatin1Char('-'));
    for (const QString& served : m_upstream->languages) {
        if (served.compare(requested, Qt::CaseInsensitive) == 0 || served == baseLanguage(requested))
            return true;
    }
    return false;
}

bool SpeechService::localModelFor(const QString& language) const
{
    return !m_model.modelFolderFor(language).isEmpty();
}

bool SpeechService::serves(const QString& language) const
{
    return relays(language) || localModelFor(language);
}

SpeechBackend* SpeechService::open(const QString& language, qint64 maxQueuedBytes, QObject* parent)
{
    if (relays(language)) {
        ++m_relayed;
        return new UpstreamSpeechBackend(*m_upstream, language, SpeechModel::sampleRate, maxQueuedBytes, parent);
    }
    if (localModelFor(language))
        return new PocketsphinxBackend(m_model, language, maxQueuedBytes, parent);
    return nullptr;
}

SpeechBackend* SpeechService::fallback(const QString& language, qint64 maxQueuedBytes, const QString& problem,
                                       QObject* parent)
{
    // Only the hosted recognizer has pocketsphinx behind it.
    if (!relays(language))
        return nullptr;
    ++m_fallbacks;
    m_lastFallback = problem;
    const bool local = localModelFor(language);
    Log::line(QStringLiteral("Speech"), QStringLiteral("a stream in %1 %2: %3")
                                            .arg(language.left(16),
                                                 local ? QStringLiteral("goes to pocketsphinx")
                                                       : QStringLiteral("has no recognizer (no local model)"),
                                                 problem));
    return local ? new PocketsphinxBackend(m_model, language, maxQueuedBytes, parent) : nullptr;
}

QJsonObject SpeechService::status() const
{
    const QJsonArray local = QJsonArray::fromStringList(m_model.languages());
    if (!m_upstream)
        return {{QStringLiteral("kind"), QStringLiteral("pocketsphinx")}, {QStringLiteral("languages"), local}};
    return {
        {QStringLiteral("kind"), QStringLiteral("upstream")},
        {QStringLiteral("url"), Address::shown(m_upstream->url)},
        {QStringLiteral("languages"), QJsonArray::fromStringList(m_upstream->languages)},
        {QStringLiteral("fallback"), QStringLiteral("pocketsphinx")},
        {QStringLiteral("fallback_languages"), local},
        {QStringLiteral("streams"), m_relayed},
        {QStringLiteral("fallbacks"), m_fallbacks},
        {QStringLiteral("last_fallback"), m_lastFallback},
    };
}

} // namespace quiro::service
