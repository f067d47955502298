#pragma once

#include "core/Clock.h"
#include "core/Config.h"
#include "history/PostCallSummary.h"
#include "history/SessionCheckpoint.h"
#include "history/SessionRecord.h"
#include "history/TurnRecord.h"
#include "transcription/TranscriptStream.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace quiro {

class AudioSource;
class CheckpointWriter;
class Coach;
class ConversationStore;
class HintEngine;
class ProductContext;
class SessionWindowModel;
class Transcriber;
struct StreamTrouble;

// The spine of a coached call. start() brings up the coach, one speech-to-text stream for the
// microphone and, when the computer's playback can be recorded, a second one for the other side;
// every final transcript is shown in the overlay, recorded as a turn and handed to the coach, and
// the hints that come back are shown for 6 s. stop() lets both streams deliver what they still
// hold, then scores the call, saves it, publishes its summary and asks the service for the
// post-call analysis, which later updates both.
//
// Nothing is lost in silence: a save that fails keeps the call in the recovery file and says so
// (alert), a call that ended without stop() is saved to the history before the next one starts,
// and a stop that arrives while a start is still under way wins.
//
// One instance lives for the whole run, on the GUI thread; everything here happens on that thread
// except the audio callbacks, which only hand chunks to their stream.
class SessionController final : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(QString alert READ alert NOTIFY alertChanged)

public:
    enum class State {
        idle,
        starting, // opening the microphone, the system audio and their streams
        running,
        stopping, // the streams deliver their last results; then the call is saved
    };
    Q_ENUM(State)

    // What the controller takes from the rest of the program; tests replace parts of it.
    struct Environment {
        Config config = Config::load();
        // Reads the settings again as each call starts, so that a language chosen in the main
        // window applies to the next call; `config` stays as it is when unset.
        std::function<Config()> reloadConfig;
        // The product knowledge file bundled with the program, when there is one.
        std::shared_ptr<const ProductContext> context;
        // The bearer token of the signed-in user; none when signed out.
        std::function<std::optional<QString>()> token;
        // Signs the user out when the service no longer accepts the token; nothing when unset.
        std::function<void()> signOut;
        const Clock* clock = &Clock::system();
        ConversationStore* store = nullptr;
        int checkpointIntervalMs = 30'000;
        // A stop waits at most this long for the streams' last results (they give up after 2 s).
        int drainLimitMs = 2500;
        // The captures and their speech-to-text streams; the real ones when left unset.
        std::function<std::unique_ptr<AudioSource>()> makeMicrophone;
        std::function<std::unique_ptr<AudioSource>()> makeSystemAudio;
        std::function<std::unique_ptr<Transcriber>(const Config& config, const QString& token)> makeTranscriber;

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

    State state() const { return m_state; }
    bool running() const { return m_runningPublished; }
    // When the running call went live (Unix seconds); none unless a call runs or is stopping.
    std::optional<double> sessionStartedAt() const { return m_sessionStart; }
    // The last thing that went wrong that the user must hear of, in one sentence (a failed save, an
    // expired sign-in, a stream the service will not serve); empty when there is none.
    QString alert() const { return m_alert; }

    const std::optional<PostCallSummary>& postCallSummary() const { return m_postCallSummary; }
    void setPostCallSummary(std::optional<PostCallSummary> summary); // the home view dismisses it

    // A call that ended without a stop (a crash) or whose record could not be saved.
    const std::optional<SessionCheckpoint>& recoveredCheckpoint() const { return m_recoveredCheckpoint; }
    void dismissRecoveredCheckpoint();
    // Saves the recovered call as an ordinary record (the local score estimate, no analysis) and
    // dismisses it. Nothing, with the alert set, when it cannot be saved. start() does this first.
    std::optional<SessionRecord> saveRecoveredCheckpoint();

    // Starts a session when idle.
    QCoro::Task<> start();
    // Ends the session: a live one drains and is saved, a starting one is abandoned without a record.
    // Safe when idle. Returns at once; state() is idle again once the call is saved.
    void stop();
    QCoro::Task<> toggle();
    // Completes once no session is starting, running or stopping.
    QCoro::Task<> untilIdle();
    // A hint on demand from the last 20 lines.
    void manualAssist();

    // The record of the last stopped session as last saved (analysis included once merged), and
    // whether it reached the history.
    const std::optional<SessionRecord>& lastRecord() const { return m_lastRecord; }
    bool lastRecordSaved() const { return m_lastRecordSaved; }

signals:
    void stateChanged();
    void runningChanged();
    void alertChanged();
    void postCallSummaryChanged();
    void recoveredCheckpointChanged();
    // A recovered call has just been saved to the history.
    void recoveredCallSaved(const quiro::SessionRecord& record);

private:
    // What one speech-to-text stream is doing, for the status line.
    enum class StreamState { connecting, listening, reconnecting, unreachable };

    void setState(State state);
    void setAlert(const QString& alert);
    bool tokenHasExpired(const QString& token) const;
    QCoro::Task<> startSystemAudio(QString token, quint64 session);
    void watchStream(Transcriber& client, StreamState& state, quint64 session);
    void watchSoundServer(AudioSource& capture, bool& lost, quint64 session);
    void streamTrouble(const StreamTrouble& trouble, StreamState& state);
    void updateStatus();
    static QCoro::Task<> consumeMicrophone(QPointer<SessionController> self, TranscriptStream stream,
                                           QPointer<Coach> coach, quint64 session);
    void takeMicrophoneLine(Speaker speaker, const QString& text);
    void recordTurn(const QString& tag, const QString& text);
    void handleClientTranscript(const QString& text, QPointer<Coach> coach);
    static QCoro::Task<> coachClientTurn(QPointer<SessionController> self, QPointer<Coach> coach, QString text,
                                         quint64 session);
    void presentHint(const QString& label, const QString& text);
    void showHint(const QString& label, const QString& text);
    void startCheckpointing();
    void writeCheckpoint();
    void streamDrained();
    void finishStop();
    void keepInRecoveryFile(const SessionRecord& record, const QString& why);
    void teardown();
    void requestAnalysis(const SessionRecord& record, qint64 estimate);
    static QCoro::Task<> analyse(QPointer<SessionController> self, QPointer<HintEngine> analyst, QString transcript,
                                 double durationSeconds, double talkRatio, qint64 hintCount, QString startedAt,
                                 QString endedAt, SessionRecord record, qint64 estimate, QUuid summaryId,
                                 QString account);
    bool isCurrent(quint64 session) const { return m_sessionStart.has_value() && m_session == session; }

    Environment m_env;
    QPointer<SessionWindowModel> m_window;

    State m_state = State::idle;
    bool m_runningPublished = false;
    QString m_alert;
    std::optional<PostCallSummary> m_postCallSummary;
    std::optional<SessionCheckpoint> m_recoveredCheckpoint;

    std::unique_ptr<Coach> m_coach;
    std::unique_ptr<Transcriber> m_deepgram;
    std::unique_ptr<Transcriber> m_deepgramSys;
    std::unique_ptr<AudioSource> m_audio;
    std::unique_ptr<AudioSource> m_sysAudio;
    std::optional<TranscriptStream> m_micTranscripts;

    // Bumped by every start and stop: work of an earlier session that resumes late (the consume
    // loop, a client line's coaching, a system-audio start) sees it is no longer current.
    quint64 m_session = 0;
    std::optional<double> m_sessionStart;
    double m_endedAt = 0;
    QString m_sessionAccount; // the history folder the call belongs to
    QList<TurnRecord> m_currentTurns;
    qint64 m_hintCount = 0;
    double m_llmCostAccum = 0;
    qint64 m_llmCallsAccum = 0;
    qint64 m_micStreams = 0;
    std::optional<SessionRecord> m_lastRecord;
    bool m_lastRecordSaved = false;

    StreamState m_micStream = StreamState::connecting;
    StreamState m_sysStream = StreamState::connecting;
    bool m_micServerLost = false;
    bool m_sysServerLost = false;
    int m_pendingDrains = 0;
    bool m_signOutWhenStopped = false;
    bool m_checkpointFailureLogged = false;

    std::unique_ptr<CheckpointWriter> m_checkpointWriter;
    QTimer m_hintTimer;
    QTimer m_checkpointTimer;
    QTimer m_drainLimit;
};

} // namespace quiro
