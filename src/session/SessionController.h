#pragma once

#include "core/Clock.h"
#include "core/Config.h"
#include "history/PostCallSummary.h"
#include "history/SessionCheckpoint.h"
#include "history/SessionRecord.h"
#include "history/TurnRecord.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace quiro {

class AudioCapture;
class Coach;
class ConversationStore;
class DeepgramClient;
class HintEngine;
class ProductContext;
class SessionWindowModel;
class SystemAudioCapture;
class TranscriptStream;

// The spine of a coached call. start() brings up the coach, one speech-to-text stream for the
// microphone and, when the computer's playback can be recorded, a second one for the other side;
// every final transcript is shown in the overlay, recorded as a turn and handed to the coach, and
// the hints that come back are shown for 6 s. stop() scores the call, saves it, publishes its
// summary and asks the service for the post-call analysis, which later updates both.
//
// One instance lives for the whole run, on the GUI thread; everything here happens on that thread
// except the audio callbacks, which only hand chunks to their stream.
class SessionController final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)

public:
    // What the controller takes from the rest of the program; tests replace parts of it.
    struct Environment {
        Config config = Config::load();
        // The product knowledge file bundled with the program, when there is one.
        std::shared_ptr<const ProductContext> context;
        // The bearer token of the signed-in user; none when signed out.
        std::function<std::optional<QString>()> token;
        const Clock* clock = &Clock::system();
        ConversationStore* store = nullptr;
        int checkpointIntervalMs = 30'000;

        // The signed-in account of AuthManager, the shared store, the bundled product.json.
        static Environment standard();
    };

    static constexpr int hintVisibleMs = 6000;
    static constexpr int manualAssistTurns = 20;
    static constexpr int minimumTurnsForAnalysis = 4;
    static constexpr int sellerWordsThatClearAHint = 3;

    explicit SessionController(Environment environment, QObject* parent = nullptr);
    ~SessionController() override;

    // The overlay's model; every overlay update is skipped while there is none.
    void setSessionWindow(SessionWindowModel* window);

    bool running() const { return m_runningPublished; }
    const std::optional<PostCallSummary>& postCallSummary() const { return m_postCallSummary; }
    void setPostCallSummary(std::optional<PostCallSummary> summary); // the home view dismisses it
    const std::optional<SessionCheckpoint>& recoveredCheckpoint() const { return m_recoveredCheckpoint; }
    void dismissRecoveredCheckpoint();

    // Starts a session unless one is live or starting.
    QCoro::Task<> start();
    // Ends the live session; safe when idle.
    void stop();
    QCoro::Task<> toggle();
    // A hint on demand from the last 20 lines.
    void manualAssist();

    // The record of the last stopped session as last saved (analysis included once merged).
    const std::optional<SessionRecord>& lastRecord() const { return m_lastRecord; }

signals:
    void runningChanged();
    void postCallSummaryChanged();
    void recoveredCheckpointChanged();

private:
    void setRunning(bool running);
    QCoro::Task<bool> requestMic();
    QCoro::Task<> startSystemAudio(QPointer<Coach> coach, QString token, quint64 session);
    static QCoro::Task<> consumeMicrophone(QPointer<SessionController> self, TranscriptStream stream,
                                           QPointer<Coach> coach, quint64 session);
    void recordTurn(const QString& tag, const QString& text);
    void handleClientTranscript(const QString& text, QPointer<Coach> coach);
    static QCoro::Task<> coachClientTurn(QPointer<SessionController> self, QPointer<Coach> coach, QString text,
                                         quint64 session);
    void presentHint(const QString& label, const QString& text);
    void showHint(const QString& label, const QString& text);
    void startCheckpointing();
    void writeCheckpoint();
    void requestAnalysis(const SessionRecord& record, qint64 estimate);
    static QCoro::Task<> analyse(QPointer<SessionController> self, QPointer<HintEngine> analyst, QString transcript,
                                 double durationSeconds, double talkRatio, qint64 hintCount, QString startedAt,
                                 QString endedAt, SessionRecord record, qint64 estimate, QUuid summaryId);
    bool isCurrent(quint64 session) const { return m_sessionStart.has_value() && m_session == session; }

    Environment m_env;
    QPointer<SessionWindowModel> m_window;

    bool m_runningPublished = false;
    // A start() waiting for the microphone check or the system audio; a second start() meanwhile
    // must not create a second session.
    bool m_starting = false;
    std::optional<PostCallSummary> m_postCallSummary;
    std::optional<SessionCheckpoint> m_recoveredCheckpoint;

    std::unique_ptr<Coach> m_coach;
    std::unique_ptr<DeepgramClient> m_deepgram;
    std::unique_ptr<DeepgramClient> m_deepgramSys;
    std::unique_ptr<AudioCapture> m_audio;
    std::unique_ptr<SystemAudioCapture> m_sysAudio;

    // Bumped by every start and stop: work of an earlier session that resumes late (the consume
    // loop, a client line's coaching, a system-audio start) sees it is no longer current.
    quint64 m_session = 0;
    std::optional<double> m_sessionStart;
    QList<TurnRecord> m_currentTurns;
    qint64 m_hintCount = 0;
    double m_llmCostAccum = 0;
    qint64 m_llmCallsAccum = 0;
    qint64 m_micStreams = 0;
    std::optional<SessionRecord> m_lastRecord;

    QTimer m_hintTimer;
    QTimer m_checkpointTimer;
};

} // namespace quiro
