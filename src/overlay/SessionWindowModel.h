#pragma once

#include "core/Clock.h"
#include "overlay/WidgetMode.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>
#include <functional>
#include <optional>

namespace quiro {

struct HintEntry {
    QString label; // may be empty
    QString text;
    bool operator==(const HintEntry&) const = default;
};

struct TranscriptEntry {
    QUuid id;
    QString speaker; // "MGR" for the seller, "CLT" for the client
    QString text;
};

// What the overlay shows during a call: the hint on display, the live transcript, the status line and
// the score of the last call. The session controller writes it, the overlay views read it and act only
// through its callbacks. Lives on the GUI thread.
class SessionWindowModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(bool audioError READ audioError WRITE setAudioError NOTIFY audioErrorChanged)
    Q_PROPERTY(QString statusText READ statusText WRITE setStatusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool showTranscript READ showTranscript WRITE setShowTranscript NOTIFY showTranscriptChanged)
    Q_PROPERTY(bool visibleInCapture READ visibleInCapture WRITE setVisibleInCapture NOTIFY visibleInCaptureChanged)

public:
    static constexpr double mergeWindowSeconds = 4.0;
    static constexpr int maxLines = 60;

    explicit SessionWindowModel(const Clock& clock = Clock::system(), QString envFilePath = {},
                                QObject* parent = nullptr);

    // The one model of the program, created on first use.
    static SessionWindowModel& shared();

    bool running() const { return m_running; }
    void setRunning(bool running);
    const std::optional<HintEntry>& hint() const { return m_hint; }
    const QList<TranscriptEntry>& lines() const { return m_lines; }
    bool audioError() const { return m_audioError; }
    void setAudioError(bool audioError);
    QString statusText() const { return m_statusText; }
    void setStatusText(const QString& statusText);
    bool showTranscript() const { return m_showTranscript; }
    void setShowTranscript(bool show);
    bool visibleInCapture() const { return m_visibleInCapture; }
    void setVisibleInCapture(bool visible);
    std::optional<qint64> lastScore() const { return m_lastScore; }
    void setLastScore(std::optional<qint64> score);
    WidgetMode widgetMode() const { return m_widgetMode; }

    // Adds a transcript line, or extends the last one when the same speaker goes on within 4 s.
    void addLine(const QString& speaker, const QString& text);
    void showHint(const QString& label, const QString& text);
    void clearHint();
    // Prepares the overlay for a new call; running, the panes, the mode and the callbacks stay.
    void reset();
    // Switches the mode, remembers it in the user's settings file and announces it.
    void setMode(WidgetMode mode);

    std::function<void()> onToggle;
    std::function<void()> onRestart;
    std::function<void()> onAssist;
    std::function<void()> onOpenSettings;
    std::function<void()> onClose;
    std::function<void(bool visible)> onCaptureVisibility;

signals:
    void runningChanged();
    void hintChanged();
    void linesChanged();
    void audioErrorChanged();
    void statusTextChanged();
    void showTranscriptChanged();
    void visibleInCaptureChanged();
    void lastScoreChanged();
    void widgetModeChanged();

private:
    const Clock& m_clock;
    QString m_envFilePath;
    bool m_running = false;
    std::optional<HintEntry> m_hint;
    QList<TranscriptEntry> m_lines;
    bool m_audioError = false;
    QString m_statusText;
    bool m_showTranscript = false;
    bool m_visibleInCapture = false;
    std::optional<qint64> m_lastScore;
    WidgetMode m_widgetMode = WidgetMode::panel;
    QHash<QString, double> m_lastLineTime;
};

// The mode remembered in a settings file: the first "WIDGET_MODE=" line, trimmed; island or panel.
WidgetMode persistedWidgetMode(const QString& envFilePath);

} // namespace quiro
