#include "session/SessionController.h"

#include "account/AuthManager.h"
#include "audio/AudioCapture.h"
#include "audio/SystemAudioCapture.h"
#include "coaching/Coach.h"
#include "coaching/HintEngine.h"
#include "coaching/ProductContext.h"
#include "conversation/WordCount.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "history/AnalysisMerge.h"
#include "history/CheckpointWriter.h"
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"
#include "session/CallScore.h"
#include "transcription/DeepgramClient.h"

#include "account/JwtExpiry.h"

#include <QDateTime>
#include <QFileInfo>
#include <QVariant>

#include <qcoro/qcorosignal.h>

#include <cmath>

namespace quiro {

namespace {
const QString sessionTag = QStringLiteral("Session");
const QString micLabel = QStringLiteral("⚠️ Mic");
const QString assistLabel = QStringLiteral("⚡ Assist");

// Internet date-time in UTC, whole seconds, "Z".
QString isoDate(double unixSeconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(std::floor(unixSeconds)), Qt::UTC).toString(Qt::ISODate);
}

QString transcriptText(const QList<TurnRecord>& turns)
{
    QStringList lines;
    lines.reserve(turns.size());
    for (const TurnRecord& turn : turns)
        lines.append(turn.speaker + QStringLiteral(": ") + turn.text);
    return lines.join(QLatin1Char('\n'));
}

QString speakerTag(Speaker speaker)
{
    return speaker == Speaker::manager ? TurnRecord::managerTag : TurnRecord::clientTag;
}

QString asSentence(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

// A call known only from its recovery file: its turns and times, the local score estimate, no
// costs (what the streams and the service cost was not kept) and no analysis.
SessionRecord recordOf(const SessionCheckpoint& checkpoint)
{
    SessionRecord record;
    record.startedAt = checkpoint.startedAt;
    record.endedAt = std::max(checkpoint.savedAt, checkpoint.startedAt);
    record.turns = checkpoint.turns;
    record.talkRatio = CallScore::talkRatio(record.turns);
    record.score = CallScore::estimate(*record.talkRatio, 0, record.durationSeconds());
    return record;
}

const QString expiredSignIn = QStringLiteral("Your sign-in has expired — sign in again");
} // namespace

SessionController::Environment SessionController::Environment::standard()
{
    Environment environment;
    const QString productFile = Paths::resourceDir() + QStringLiteral("/product.json");
    environment.context = std::make_shared<const ProductContext>(
        QFileInfo::exists(productFile) ? std::optional<QString>(productFile) : std::nullopt);
    environment.token = [] { return AuthManager::shared().token(); };
    // Through the account manager, so that everybody hears "quiro.logged_out" as after any sign-out.
    environment.signOut = [] { AuthManager::shared().logout(); };
    environment.store = &ConversationStore::shared();
    environment.reloadConfig = [] { return Config::load(); };
    return environment;
}

SessionController::SessionController(Environment environment, QObject* parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_checkpointWriter(std::make_unique<CheckpointWriter>())
{
    Q_ASSERT(m_env.store && m_env.clock && m_env.token);
    if (!m_env.context)
        m_env.context = std::make_shared<const ProductContext>(std::nullopt);
    if (!m_env.makeMicrophone)
        m_env.makeMicrophone = [] { return std::make_unique<AudioCapture>(); };
    if (!m_env.makeSystemAudio)
        m_env.makeSystemAudio = [] { return std::make_unique<SystemAudioCapture>(); };
    if (!m_env.makeTranscriber) {
        m_env.makeTranscriber = [](const Config& config, const QString& token) {
            return std::make_unique<DeepgramClient>(config, token, int(AudioCapture::targetRate));
        };
    }

    m_hintTimer.setSingleShot(true);
    m_hintTimer.setInterval(hintVisibleMs);
    connect(&m_hintTimer, &QTimer::timeout, this, [this] {
        if (m_window)
            m_window->clearHint();
    });
    m_checkpointTimer.setInterval(m_env.checkpointIntervalMs);
    connect(&m_checkpointTimer, &QTimer::timeout, this, &SessionController::writeCheckpoint);
    m_checkpointWriter->onWritten = [this](const WriteResult& written) {
        // Said once a call: the same failure every 30 s would drown the log.
        if (!written && !m_checkpointFailureLogged) {
            m_checkpointFailureLogged = true;
            Log::line(sessionTag, QStringLiteral("Could not write the recovery file: ") + written.reason());
        }
    };
    m_drainLimit.setSingleShot(true);
    m_drainLimit.setInterval(m_env.drainLimitMs);
    connect(&m_drainLimit, &QTimer::timeout, this, &SessionController::finishStop);

    // A checkpoint without turns is left on disk but not offered for recovery.
    if (auto checkpoint = m_env.store->loadCheckpoint(); checkpoint && !checkpoint->turns.isEmpty())
        m_recoveredCheckpoint = std::move(checkpoint);
}

SessionController::~SessionController()
{
    // The capture threads call into us until their captures have stopped.
    teardown();
}

void SessionController::setSessionWindow(SessionWindowModel* window)
{
    m_window = window;
}

void SessionController::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
    const bool running = state == State::running;
    if (m_runningPublished != running) {
        m_runningPublished = running;
        emit runningChanged();
    }
    if (m_window)
        m_window->setRunning(running);
}

void SessionController::setAlert(const QString& alert)
{
    if (m_alert == alert)
        return;
    m_alert = alert;
    emit alertChanged();
}

void SessionController::setPostCallSummary(std::optional<PostCallSummary> summary)
{
    m_postCallSummary = std::move(summary);
    emit postCallSummaryChanged();
}

void SessionController::dismissRecoveredCheckpoint()
{
    m_recoveredCheckpoint.reset();
    emit recoveredCheckpointChanged();
    // While a call runs the file on disk is that call's own.
    if (m_state == State::idle)
        m_checkpointWriter->clearNow(m_env.store->checkpointPath());
}

std::optional<SessionRecord> SessionController::saveRecoveredCheckpoint()
{
    if (!m_recoveredCheckpoint)
        return std::nullopt;
    // The last call, when its own save failed, is saved whole: score, costs and a later analysis
    // all belong to that same record.
    const bool lastCall =
        m_lastRecord && !m_lastRecordSaved && m_lastRecord->startedAt == m_recoveredCheckpoint->startedAt;
    const SessionRecord record = lastCall ? *m_lastRecord : recordOf(*m_recoveredCheckpoint);
    if (const WriteResult saved = m_env.store->save(record); !saved) {
        setAlert(QStringLiteral("Could not save the recovered call: %1").arg(saved.reason()));
        Log::line(sessionTag, m_alert);
        return std::nullopt;
    }
    if (lastCall)
        m_lastRecordSaved = true;
    Log::line(sessionTag, QStringLiteral("Recovered call saved (%1 turns)").arg(record.turns.size()));
    // Whatever went wrong with this call before (its own save, an earlier try) is now put right.
    setAlert({});
    NotificationCenter::instance().post(Notifications::sessionSaved, QVariant::fromValue(record));
    dismissRecoveredCheckpoint();
    emit recoveredCallSaved(record);
    return record;
}

QCoro::Task<> SessionController::toggle()
{
    switch (m_state) {
    case State::idle:
        co_await start();
        break;
    case State::starting:
    case State::running:
        stop();
        break;
    case State::stopping:
        break;
    }
}

QCoro::Task<> SessionController::untilIdle()
{
    QPointer<SessionController> self(this);
    while (self && m_state != State::idle)
        co_await qCoro(this, &SessionController::stateChanged);
}

bool SessionController::tokenHasExpired(const QString& token) const
{
    const std::optional<double> expiry = JwtExpiry::expiry(token);
    return expiry && *expiry <= m_env.clock->now();
}

QCoro::Task<> SessionController::start()
{
    if (m_state != State::idle)
        co_return;
    const std::optional<QString> token = m_env.token();
    if (!token) {
        NotificationCenter::instance().post(Notifications::showMain);
        co_return;
    }
    if (tokenHasExpired(*token)) {
        // Every stream would be refused; the user signs in again instead of watching it fail.
        setAlert(expiredSignIn);
        if (m_env.signOut)
            m_env.signOut();
        NotificationCenter::instance().post(Notifications::showMain);
        co_return;
    }
    // A call nobody has dealt with goes to the history before the next call can overwrite its file.
    if (m_recoveredCheckpoint && !saveRecoveredCheckpoint())
        co_return;

    setAlert({});
    if (m_env.reloadConfig)
        m_env.config = m_env.reloadConfig();
    const quint64 session = ++m_session;
    setState(State::starting);
    QPointer<SessionController> self(this);
    m_sessionAccount = ConversationStore::accountName();
    m_coach = std::make_unique<Coach>(m_env.config, *token, m_env.context, *m_env.clock);
    m_deepgram = m_env.makeTranscriber(m_env.config, *token);
    m_audio = m_env.makeMicrophone();
    m_currentTurns.clear();
    m_hintCount = 0;
    m_llmCostAccum = 0;
    m_llmCallsAccum = 0;
    m_micStreams = 1;
    m_micStream = StreamState::connecting;
    m_micServerLost = m_sysServerLost = false;
    m_checkpointFailureLogged = false;
    if (m_window)
        m_window->setLastScore(std::nullopt);
    updateStatus();

    m_coach->hints()->setOnUsage([self, session](int, int, double cost) {
        // Applied from the event loop, never inside the request that reported it.
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, session, cost] {
                if (self && self->isCurrent(session)) {
                    self->m_llmCostAccum += cost;
                    self->m_llmCallsAccum += 1;
                }
            },
            Qt::QueuedConnection);
    });
    watchStream(*m_deepgram, m_micStream, session);
    m_micTranscripts = m_deepgram->transcripts();
    m_deepgram->start();
    // Called on the capture's thread. The client outlives every call: the capture is stopped
    // (after which no chunk is delivered) before the client is dropped.
    m_audio->setOnChunk([client = m_deepgram.get()](QByteArray chunk) { client->send(std::move(chunk)); });
    watchSoundServer(*m_audio, m_micServerLost, session);

    // Opening the microphone is also the check that there is one: no separate probe.
    const std::optional<AudioSource::Failure> micFailure = co_await m_audio->start();
    if (!self || m_session != session)
        co_return; // stopped meanwhile: the stop has already put everything away
    if (micFailure) {
        Log::line(sessionTag, QStringLiteral("Microphone failed: ") + micFailure->message);
        teardown();
        setState(State::idle);
        setAlert(micFailure->message);
        if (m_window)
            m_window->showHint(micLabel, micFailure->message);
        co_return;
    }

    co_await startSystemAudio(*token, session);
    if (!self || m_session != session)
        co_return;

    m_sessionStart = m_env.clock->now();
    setState(State::running);
    updateStatus();
    startCheckpointing();
    consumeMicrophone(self, *m_micTranscripts, QPointer<Coach>(m_coach.get()), session);
}

QCoro::Task<> SessionController::startSystemAudio(QString token, quint64 session)
{
    QPointer<SessionController> self(this);
    std::unique_ptr<Transcriber> client = m_env.makeTranscriber(m_env.config, token);
    client->onFinalTranscript([self, coach = QPointer<Coach>(m_coach.get())](const QString& text) {
        if (self)
            self->handleClientTranscript(text, coach);
    });
    // Held by the controller while it opens, so that a stop meanwhile can stop it.
    m_sysAudio = m_env.makeSystemAudio();
    const auto failure = co_await m_sysAudio->start();
    if (!self || m_session != session)
        co_return; // the unstarted client goes with this frame

    if (failure) {
        m_sysAudio.reset();
        if (failure->error != AudioSource::CaptureError::permissionDenied)
            Log::line(sessionTag, QStringLiteral("System audio failed: ") + failure->description());
        if (m_window)
            m_window->setAudioError(true);
        co_return;
    }
    m_sysStream = StreamState::connecting;
    watchStream(*client, m_sysStream, session);
    client->start();
    m_sysAudio->setOnChunk([target = client.get()](QByteArray chunk) { target->send(std::move(chunk)); });
    watchSoundServer(*m_sysAudio, m_sysServerLost, session);
    m_deepgramSys = std::move(client);
    if (m_window)
        m_window->setAudioError(false);
    m_micStreams = 2;
}

void SessionController::watchStream(Transcriber& client, StreamState& state, quint64 session)
{
    QPointer<SessionController> self(this);
    client.onConnected([self, session, &state] {
        if (!self || self->m_session != session)
            return;
        state = StreamState::listening;
        self->updateStatus();
    });
    client.onDisconnected([self, session, &state](const StreamTrouble& trouble) {
        if (self && self->m_session == session)
            self->streamTrouble(trouble, state);
    });
    client.onDrained([self, session] {
        if (self && self->m_session == session)
            self->streamDrained();
    });
}

void SessionController::watchSoundServer(AudioSource& capture, bool& lost, quint64 session)
{
    // Called on the capture's thread; the capture is stopped before the controller goes, and the
    // queued call is dropped with the controller.
    capture.setOnServerLink([this, &lost, session](AudioSource::ServerLink link) {
        QMetaObject::invokeMethod(
            this,
            [this, &lost, session, link] {
                if (m_session != session)
                    return;
                lost = link == AudioSource::ServerLink::lost;
                updateStatus();
            },
            Qt::QueuedConnection);
    });
}

void SessionController::streamTrouble(const StreamTrouble& trouble, StreamState& state)
{
    switch (trouble.kind) {
    case StreamTrouble::Kind::dropped:
    case StreamTrouble::Kind::refused:
        state = StreamState::reconnecting;
        break;
    case StreamTrouble::Kind::unreachable:
        state = StreamState::unreachable;
        break;
    case StreamTrouble::Kind::unauthorized:
    case StreamTrouble::Kind::unusable: {
        // Retrying cannot help: the call ends (what was heard is saved) and says why.
        const bool signIn = trouble.kind == StreamTrouble::Kind::unauthorized;
        setAlert(signIn ? expiredSignIn : asSentence(trouble.detail));
        Log::line(sessionTag, m_alert);
        if (m_window)
            m_window->setStatusText(m_alert);
        m_signOutWhenStopped = m_signOutWhenStopped || signIn;
        // Not from inside the client's own callback: a stop may drop the client.
        const quint64 session = m_session;
        QMetaObject::invokeMethod(
            this,
            [this, session] {
                if (m_session == session)
                    stop();
            },
            Qt::QueuedConnection);
        return;
    }
    }
    updateStatus();
}

void SessionController::updateStatus()
{
    if (!m_window || (m_state != State::starting && m_state != State::running))
        return;
    const bool both = m_deepgramSys != nullptr;
    const auto either = [&](StreamState state) { return m_micStream == state || (both && m_sysStream == state); };
    QString status;
    if (m_micServerLost || m_sysServerLost)
        status = QStringLiteral("Sound server lost — reconnecting…");
    else if (either(StreamState::unreachable))
        status = QStringLiteral("Cannot reach the service at %1 — retrying").arg(m_env.config.apiBase);
    else if (either(StreamState::reconnecting))
        status = QStringLiteral("Reconnecting…");
    else if (m_micStream == StreamState::listening)
        status = QStringLiteral("Listening…");
    else
        status = QStringLiteral("Connecting…");
    m_window->setStatusText(status);
}

QCoro::Task<> SessionController::consumeMicrophone(QPointer<SessionController> self, TranscriptStream stream,
                                                   QPointer<Coach> coach, quint64 session)
{
    // One microphone line at a time: later lines wait in the stream while the coach works.
    while (auto pair = co_await stream.next()) {
        if (!self || !self->isCurrent(session))
            co_return;
        const auto& [speaker, text] = *pair;
        self->takeMicrophoneLine(speaker, text);
        // Lines that arrive while the call is being stopped are recorded, not coached.
        if (self->m_state != State::running || !coach)
            continue;
        const std::optional<Hint> hint = co_await coach->onTurn(speaker, text);
        if (!self || !self->isCurrent(session))
            co_return;
        if (hint && self->m_state == State::running)
            self->presentHint(hint->label, hint->text);
    }
}

void SessionController::takeMicrophoneLine(Speaker speaker, const QString& text)
{
    // A transcript is proof enough that the stream works, whatever was reported before.
    m_micStream = StreamState::listening;
    updateStatus();
    // The seller reacting to a hint with a real sentence puts it away.
    if (m_window && speaker == Speaker::manager && wordCount(text) >= sellerWordsThatClearAHint && m_window->hint()) {
        m_hintTimer.stop();
        m_window->clearHint();
    }
    recordTurn(speakerTag(speaker), text);
}

void SessionController::recordTurn(const QString& tag, const QString& text)
{
    if (m_window)
        m_window->addLine(tag, text);
    m_currentTurns.append(TurnRecord{tag, text, m_env.clock->now()});
    NotificationCenter::instance().post(Notifications::transcript, {},
                                        {{QStringLiteral("speaker"), tag}, {QStringLiteral("text"), text}});
}

void SessionController::handleClientTranscript(const QString& text, QPointer<Coach> coach)
{
    if (!m_sessionStart)
        return;
    recordTurn(TurnRecord::clientTag, text);
    // Each client line is coached on its own; the coach serialises what must not overlap.
    if (m_state == State::running)
        coachClientTurn(QPointer<SessionController>(this), coach, text, m_session);
}

QCoro::Task<> SessionController::coachClientTurn(QPointer<SessionController> self, QPointer<Coach> coach, QString text,
                                                 quint64 session)
{
    if (!coach)
        co_return;
    const std::optional<Hint> hint = co_await coach->onTurn(Speaker::client, text);
    if (self && self->isCurrent(session) && hint && self->m_state == State::running)
        self->presentHint(hint->label, hint->text);
}

void SessionController::presentHint(const QString& label, const QString& text)
{
    m_hintCount += 1;
    Log::line(sessionTag, QStringLiteral("Hint shown (%1)").arg(label));
    showHint(label, text);
    NotificationCenter::instance().post(Notifications::hint, {},
                                        {{QStringLiteral("text"), text}, {QStringLiteral("label"), label}});
}

void SessionController::showHint(const QString& label, const QString& text)
{
    if (m_window)
        m_window->showHint(label, text);
    m_hintTimer.start(); // restarts the 6 s when a hint is already up
}

void SessionController::manualAssist()
{
    if (m_state != State::running || !m_coach || m_currentTurns.isEmpty())
        return;
    const QString transcript =
        transcriptText(m_currentTurns.mid(std::max<qsizetype>(0, m_currentTurns.size() - manualAssistTurns)));
    QPointer<SessionController> self(this);
    const quint64 session = m_session;
    auto assist = [](QPointer<SessionController> self, QPointer<HintEngine> hints, QString transcript,
                     quint64 session) -> QCoro::Task<> {
        if (!hints)
            co_return;
        const std::optional<QString> text = co_await hints->generateOnDemand(transcript);
        if (self && self->isCurrent(session) && text && self->m_state == State::running)
            self->presentHint(assistLabel, *text);
    };
    assist(self, QPointer<HintEngine>(m_coach->hints()), transcript, session);
}

void SessionController::startCheckpointing()
{
    m_checkpointTimer.start(); // first write one interval after the start
}

void SessionController::writeCheckpoint()
{
    if (!m_sessionStart || m_state != State::running)
        return;
    // The turns are shared, not copied: the snapshot costs the GUI thread next to nothing.
    m_checkpointWriter->writeLater(SessionCheckpoint::make(*m_sessionStart, m_currentTurns, *m_env.clock),
                                   m_env.store->checkpointPath());
}

void SessionController::stop()
{
    switch (m_state) {
    case State::idle:
        // A recovered call that nobody has dealt with keeps its file.
        if (!m_recoveredCheckpoint)
            m_checkpointWriter->clearNow(m_env.store->checkpointPath());
        if (m_window) {
            m_window->clearHint();
            m_window->setAudioError(false);
        }
        return;
    case State::stopping:
        return;
    case State::starting:
        // Nothing was heard yet: the start is abandoned without a record or a checkpoint, and the
        // start() still waiting on a capture finds its session gone.
        ++m_session;
        teardown();
        setState(State::idle);
        if (std::exchange(m_signOutWhenStopped, false) && m_env.signOut)
            m_env.signOut();
        return;
    case State::running:
        break;
    }

    m_endedAt = m_env.clock->now();
    setState(State::stopping);
    m_hintTimer.stop();
    m_checkpointTimer.stop();
    if (m_window)
        m_window->clearHint();
    // No more audio; what the service already has still comes back as final transcripts.
    for (AudioSource* capture : {m_audio.get(), m_sysAudio.get()}) {
        if (capture)
            capture->stop();
    }
    m_pendingDrains = 0;
    for (Transcriber* client : {m_deepgram.get(), m_deepgramSys.get()}) {
        if (client) {
            ++m_pendingDrains;
            client->stop();
        }
    }
    m_drainLimit.start();
}

void SessionController::streamDrained()
{
    if (m_state != State::stopping || --m_pendingDrains > 0)
        return;
    // From the event loop: the last client to finish is still inside its own callback.
    QMetaObject::invokeMethod(this, &SessionController::finishStop, Qt::QueuedConnection);
}

void SessionController::finishStop()
{
    if (m_state != State::stopping)
        return;
    m_drainLimit.stop();
    // Lines the consume loop has not reached yet (it may still be waiting for the coach).
    if (m_micTranscripts) {
        for (const auto& [speaker, text] : m_micTranscripts->takePending())
            takeMicrophoneLine(speaker, text);
    }

    const double startedAt = m_sessionStart.value_or(m_endedAt);
    const double duration = m_endedAt - startedAt;
    const double talkRatio = CallScore::talkRatio(m_currentTurns);
    const qint64 score = CallScore::estimate(talkRatio, m_hintCount, duration);

    SessionRecord record;
    record.startedAt = startedAt;
    record.endedAt = m_endedAt;
    record.turns = m_currentTurns;
    record.hintCount = m_hintCount;
    record.deepgramCostUSD = CallScore::speechToTextCostUSD(duration, m_micStreams);
    record.llmCostUSD = m_llmCostAccum;
    record.llmCalls = m_llmCallsAccum;
    record.score = score;
    record.talkRatio = talkRatio;
    const WriteResult saved = m_env.store->save(record, m_sessionAccount);
    m_lastRecord = record;
    m_lastRecordSaved = bool(saved);
    if (saved) {
        NotificationCenter::instance().post(Notifications::sessionSaved, QVariant::fromValue(record));
        m_checkpointWriter->clearNow(m_env.store->checkpointPath());
    } else {
        keepInRecoveryFile(record, saved.reason());
    }

    const bool analyse = m_currentTurns.size() >= minimumTurnsForAnalysis && m_coach;
    setPostCallSummary(PostCallSummary::atStop(record, analyse ? PostCallSummary::AnalysisRequest::started
                                                               : PostCallSummary::AnalysisRequest::skipped));
    if (m_window)
        m_window->setLastScore(score);
    if (analyse)
        requestAnalysis(record, score);

    ++m_session; // late work of this call now finds it gone
    teardown();
    m_sessionStart.reset();
    setState(State::idle);
    if (std::exchange(m_signOutWhenStopped, false) && m_env.signOut)
        m_env.signOut();
}

void SessionController::keepInRecoveryFile(const SessionRecord& record, const QString& why)
{
    const SessionCheckpoint checkpoint{record.startedAt, record.turns, record.endedAt.value_or(record.startedAt)};
    const WriteResult kept = m_checkpointWriter->writeNow(checkpoint, m_env.store->checkpointPath());
    setAlert(kept ? QStringLiteral("Could not save the call: %1 — kept in the recovery file").arg(why)
                  : QStringLiteral("Could not save the call: %1, and the recovery file could not be written "
                                   "either (%2)")
                        .arg(why, kept.reason()));
    Log::line(sessionTag, m_alert);
    // Offered like a crashed call: saved before the next call starts, or from the main window.
    m_recoveredCheckpoint = checkpoint;
    emit recoveredCheckpointChanged();
}

void SessionController::teardown()
{
    // Captures first: their threads hand chunks to the clients until they have stopped.
    for (AudioSource* capture : {m_audio.get(), m_sysAudio.get()}) {
        if (capture)
            capture->stop();
    }
    m_audio.reset();
    m_sysAudio.reset();
    m_deepgram.reset(); // finishes the transcript stream: the consume loop ends
    m_deepgramSys.reset();
    m_micTranscripts.reset();
    m_coach.reset();
    m_pendingDrains = 0;
    m_hintTimer.stop();
    m_checkpointTimer.stop();
    m_drainLimit.stop();
    if (m_window) {
        m_window->clearHint();
        m_window->setAudioError(false);
    }
}

void SessionController::requestAnalysis(const SessionRecord& record, qint64 estimate)
{
    const std::optional<QString> token = m_env.token();
    if (!token) {
        m_postCallSummary->analysisFailed = true;
        emit postCallSummaryChanged();
        return;
    }
    // The coach goes away with the session; the analysis gets a client of its own that lives
    // until its answer is in.
    auto* analyst = new HintEngine(m_env.config, *token, m_env.context, this);
    analyse(QPointer<SessionController>(this), QPointer<HintEngine>(analyst), transcriptText(record.turns),
            record.durationSeconds(), record.talkRatio.value_or(0.5), record.hintCount, isoDate(record.startedAt),
            isoDate(record.endedAt.value_or(record.startedAt)), record, estimate, m_postCallSummary->id,
            m_sessionAccount);
}

QCoro::Task<> SessionController::analyse(QPointer<SessionController> self, QPointer<HintEngine> analyst,
                                         QString transcript, double durationSeconds, double talkRatio, qint64 hintCount,
                                         QString startedAt, QString endedAt, SessionRecord record, qint64 estimate,
                                         QUuid summaryId, QString account)
{
    const std::optional<QJsonObject> result =
        co_await analyst->analyze(transcript, durationSeconds, talkRatio, int(hintCount), startedAt, endedAt);
    if (analyst)
        analyst->deleteLater();
    if (!self)
        co_return;

    // Only the summary of this very call takes the analysis; after a quick second call the
    // published summary belongs to that one, while this call's record is still updated.
    PostCallSummary* summary =
        self->m_postCallSummary && self->m_postCallSummary->id == summaryId ? &*self->m_postCallSummary : nullptr;
    const std::optional<qint64> finalScore = AnalysisMerge::apply(result, estimate, summary, record);
    if (summary)
        emit self->postCallSummaryChanged();
    if (!finalScore)
        co_return;
    // The overlay shows the score of the latest call only.
    const bool latestCall = self->m_lastRecord && self->m_lastRecord->id == record.id;
    if (latestCall) {
        self->m_lastRecord = record;
        if (self->m_window)
            self->m_window->setLastScore(*finalScore);
    }
    const WriteResult saved = self->m_env.store->save(record, account);
    if (!saved) {
        Log::line(sessionTag, QStringLiteral("Could not save the call's analysis: ") + saved.reason());
        co_return;
    }
    NotificationCenter::instance().post(Notifications::sessionSaved, QVariant::fromValue(record));
    // A call whose first save failed is in the history now: its recovery copy has done its job.
    if (latestCall && !self->m_lastRecordSaved) {
        self->m_lastRecordSaved = true;
        if (self->m_recoveredCheckpoint && self->m_recoveredCheckpoint->startedAt == record.startedAt) {
            self->dismissRecoveredCheckpoint();
            self->setAlert({});
        }
    }
}

} // namespace quiro
