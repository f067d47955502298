#include "overlay/SessionWindowModel.h"

#include "core/EnvFile.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "core/Published.h"
#include "core/Text.h"

namespace quiro {

namespace {
const QString readyStatus = QStringLiteral("Ready");
const QString widgetModeKey = QStringLiteral("WIDGET_MODE");

} // namespace

WidgetMode persistedWidgetMode(const QString& envFilePath)
{
    const auto text = EnvFile::readText(envFilePath);
    if (!text)
        return WidgetMode::panel;
    const QString prefix = widgetModeKey + QLatin1Char('=');
    for (const QString& line : text->split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            return Text::trimmedBlanksAndTabs(line.mid(prefix.size())) == QLatin1String("island") ? WidgetMode::island
                                                                                                  : WidgetMode::panel;
    }
    return WidgetMode::panel;
}

SessionWindowModel::SessionWindowModel(const Clock& clock, QString envFilePath, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , m_envFilePath(envFilePath.isEmpty() ? Paths::userEnvFile() : std::move(envFilePath))
    , m_statusText(readyStatus)
    , m_widgetMode(persistedWidgetMode(m_envFilePath))
{
}

SessionWindowModel& SessionWindowModel::shared()
{
    static SessionWindowModel model;
    return model;
}

void SessionWindowModel::setRunning(bool running)
{
    setPublished(this, m_running, running, &SessionWindowModel::runningChanged);
}

void SessionWindowModel::setAudioError(bool audioError)
{
    setPublished(this, m_audioError, audioError, &SessionWindowModel::audioErrorChanged);
}

void SessionWindowModel::setStatusText(const QString& statusText)
{
    setPublished(this, m_statusText, statusText, &SessionWindowModel::statusTextChanged);
}

void SessionWindowModel::setShowTranscript(bool show)
{
    setPublished(this, m_showTranscript, show, &SessionWindowModel::showTranscriptChanged);
}

void SessionWindowModel::setVisibleInCapture(bool visible)
{
    setPublished(this, m_visibleInCapture, visible, &SessionWindowModel::visibleInCaptureChanged);
}

void SessionWindowModel::setLastScore(std::optional<qint64> score)
{
    setPublished(this, m_lastScore, score, &SessionWindowModel::lastScoreChanged);
}

void SessionWindowModel::addLine(const QString& speaker, const QString& text)
{
    const double now = m_clock.now();
    const auto last = m_lastLineTime.constFind(speaker);
    const bool continuesLastLine = !m_lines.isEmpty() && m_lines.constLast().speaker == speaker &&
                                   last != m_lastLineTime.constEnd() && now - *last < mergeWindowSeconds;
    if (continuesLastLine) {
        m_lines.last().text += QLatin1Char(' ') + text;
    } else {
        m_lines.append(TranscriptEntry{QUuid::createUuid(), speaker, text});
        if (m_lines.size() > maxLines)
            m_lines.removeFirst();
    }
    m_lastLineTime.insert(speaker, now);
    emit linesChanged();
}

void SessionWindowModel::showHint(const QString& label, const QString& text)
{
    setPublished(this, m_hint, std::optional<HintEntry>(HintEntry{label, text}), &SessionWindowModel::hintChanged);
}

void SessionWindowModel::clearHint()
{
    setPublished(this, m_hint, std::optional<HintEntry>(), &SessionWindowModel::hintChanged);
}

void SessionWindowModel::reset()
{
    clearHint();
    if (!m_lines.isEmpty()) {
        m_lines.clear();
        emit linesChanged();
    }
    setLastScore(std::nullopt);
    m_lastLineTime.clear();
    setStatusText(readyStatus);
    setAudioError(false);
}

void SessionWindowModel::setMode(WidgetMode mode)
{
    if (mode == m_widgetMode)
        return;
    m_widgetMode = mode;
    emit widgetModeChanged();
    EnvFile::setValue(m_envFilePath, widgetModeKey, rawValue(mode));
    NotificationCenter::instance().post(Notifications::widgetModeChanged, QVariant::fromValue(rawValue(mode)));
}

} // namespace quiro
