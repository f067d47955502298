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
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"
#include "session/CallScore.h"
#include "transcription/DeepgramClient.h"

#include <QDateTime>
#include <QFileInfo>
#include <QThread>
#include <QVariant>

#include <QPromise>

#include <qcoro/qcorofuture.h>

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
} // namespace

SessionController::Environment SessionController::Environment::standard()
{
    Environment environment;
    const QString productFile = Paths::resourceDir() + QStringLiteral("/product.json");
    environment.context = std::make_shared<const ProductContext>(
        QFileInfo::exists(productFile) ? std::optional<QString>(productFile) : std::nullopt);
    environment.token = [] { return AuthManager::shared().token(); };
    environment.store = &ConversationStore::shared();
    return environment;
}

SessionController::SessionController(Environment environment, QObject* parent)
    : QObject(parent)
    , m_env(std::move(environment))
{
    Q_ASSERT(m_env.store && m_env.clock && m_env.token);
    if (!m_env.context)
        m_env.context = std::make_shared<const ProductContext>(std::nullopt);

    m_hintTimer.setSingleShot(true);
    m_hintTimer.setInterval(hintVisibleMs);
    connect(&m_hintTimer, &QTimer::timeout, this, [this] {
        if (m_window)
            m_window->clearHint();
    });
    m_checkpointTimer.setInterval(m_env.checkpointIntervalMs);
    connect(&m_checkpointTimer, &QTimer::timeout, this, &SessionController::writeCheckpoint);

    // A checkpoint without turns is left on disk but not offered for recovery.
    if (auto checkpoint = m_env.store->loadCheckpoint(); checkpoint && !checkpoint->turns.isEmpty())
        m_recoveredCheckpoint = std::move(checkpoint);
}

SessionController::~SessionController() = default;

void SessionController::setSessionWindow(SessionWindowModel* window)
{
    m_window = window;
}

void SessionController::setRunning(bool running)
{
    if (m_runningPublished != running) {
        m_runningPublished = running;
        emit runningChanged();
    }
    if (m_window)
        m_window->setRunning(running);
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
    m_env.store->clearCheckpoint();
}

QCoro::Task<> SessionController::toggle()
{
    if (!m_runningPublished)
        co_await start();
    else
        stop();
}

QCoro::Task<bool> SessionController::requestMic()
{
    // There is no microphone prompt on Linux: the microphone counts as allowed when the default
    // input is a real source and opens. Asking the sound server takes round trips, so the probe
    // runs off the GUI thread; the answer travels through a future, which also holds it when the
    // probe is done before anyone waits for it.
    auto promise = std::make_shared<QPromise<bool>>();
    QFuture<bool> verdict = promise->future();
    promise->start();
    QThread* probe = QThread::create([promise] {
        promise->addResult(AudioCapture::isMicrophoneAuthorized());
        promise->finish();
    });
    probe->setObjectName(QStringLiteral("quiro.micprobe"));
    connect(probe, &QThread::finished, probe, &QObject::deleteLater);
    probe->start();
    co_return co_await verdict;
}

QCoro::Task<> SessionController::start()
{
    if (m_runningPublished || m_starting)
        co_return;
    const std::optional<QString> token = m_env.token();
    if (!token) {
        NotificationCenter::instance().post(Notifications::showMain);
        co_return;
    }

    m_starting = true;
    QPointer<SessionController> self(this);
    const bool micAllowed = co_await requestMic();
    if (!self)
        co_return;
    if (!micAllowed) {
        m_starting = false;
        if (m_window)
            m_window->showHint(micLabel, QStringLiteral("Allow microphone in System Settings"));
        co_return;
    }

    m_coach = std::make_unique<Coach>(m_env.config, *token, m_env.context, *m_env.clock);
    m_deepgram = std::make_unique<DeepgramClient>(m_env.config, *token, int(AudioCapture::targetRate));
    m_audio = std::make_unique<AudioCapture>();

    const quint64 session = ++m_session;
    m_sessionStart = m_env.clock->now();
    m_currentTurns.clear();
    m_hintCount = 0;
    m_llmCostAccum = 0;
    m_llmCallsAccum = 0;
    m_micStreams = 1;
    if (m_window)
        m_window->setLastScore(std::nullopt);

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
    m_deepgram->onConnected([self] {
        if (self && self->m_window)
            self->m_window->setStatusText(QStringLiteral("Listening…"));
    });
    m_deepgram->onDisconnected([self] {
        if (self && self->m_window)
            self->m_window->setStatusText(QStringLiteral("Reconnecting…"));
    });
    m_deepgram->start();

    // Called on the capture's thread. The client outlives every call: stop() stops the capture
    // (after which no chunk is delivered) before it drops the client.
    m_audio->setOnChunk([client = m_deepgram.get()](QByteArray chunk) { client->send(std::move(chunk)); });

    co_await startSystemAudio(QPointer<Coach>(m_coach.get()), *token, session);
    if (!self)
        co_return;
    if (!isCurrent(session)) { // stopped while the system audio was starting
        m_starting = false;
        co_return;
    }

    consumeMicrophone(self, m_deepgram->transcripts(), QPointer<Coach>(m_coach.get()), session);

    const auto micFailure = co_await m_audio->start();
    if (!self)
        co_return;
    if (!isCurrent(session)) {
        m_starting = false;
        co_return;
    }
    if (micFailure) {
        Log::line(sessionTag, QStringLiteral("Microphone failed: ") + micFailure->message);
        m_starting = false;
        stop();
        if (m_window)
            m_window->showHint(micLabel, QStringLiteral("No microphone access — check System Settings"));
        co_return;
    }

    m_starting = false;
    setRunning(true);
    if (m_window)
        m_window->setStatusText(QStringLiteral("Connecting…"));
    startCheckpointing();
}

QCoro::Task<> SessionController::startSystemAudio(QPointer<Coach> coach, QString token, quint64 session)
{
    QPointer<SessionController> self(this);
    auto client = std::make_unique<DeepgramClient>(m_env.config, token, int(AudioCapture::targetRate));
    client->onFinalTranscript([self, coach](const QString& text) {
        if (self)
            self->handleClientTranscript(text, coach);
    });
    auto capture = std::make_unique<SystemAudioCapture>();
    const auto failure = co_await capture->start();
    if (!self || !isCurrent(session))
        co_return; // the capture and its unstarted client go with this frame

    if (failure) {
        if (failure->error != SystemAudioCapture::CaptureError::permissionDenied)
            Log::line(sessionTag, QStringLiteral("System audio failed: ") + failure->description());
        if (m_window)
            m_window->setAudioError(true);
        co_return;
    }
    client->start();
    capture->setOnChunk([target = client.get()](QByteArray chunk) { target->send(std::move(chunk)); });
    m_deepgramSys = std::move(client);
    m_sysAudio = std::move(capture);
    if (m_window)
        m_window->setAudioError(false);
    m_micStreams = 2;
}

QCoro::Task<> SessionController::consumeMicrophone(QPointer<SessionController> self, TranscriptStream stream,
                                                   QPointer<Coach> coach, quint64 session)
{
    // One microphone line at a time: later lines wait in the stream while the coach works.
    while (auto pair = co_await stream.next()) {
        if (!self || !self->isCurrent(session))
            co_return;
        const auto& [speaker, text] = *pair;
        if (self->m_window) {
            self->m_window->setStatusText(QStringLiteral("Listening…"));
            // The seller reacting to a hint with a real sentence puts it away.
            if (speaker == Speaker::manager && wordCount(text) >= sellerWordsThatClearAHint && self->m_window->hint()) {
                self->m_hintTimer.stop();
                self->m_window->clearHint();
            }
        }
        self->recordTurn(speakerTag(speaker), text);
        if (!coach)
            co_return;
        const std::optional<Hint> hint = co_await coach->onTurn(speaker, text);
        if (!self || !self->isCurrent(session))
            co_return;
        if (hint)
            self->presentHint(hint->label, hint->text);
    }
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
    coachClientTurn(QPointer<SessionController>(this), coach, text, m_session);
}

QCoro::Task<> SessionController::coachClientTurn(QPointer<SessionController> self, QPointer<Coach> coach, QString text,
                                                 quint64 session)
{
    if (!coach)
        co_return;
    const std::optional<Hint> hint = co_await coach->onTurn(Speaker::client, text);
    if (self && self->isCurrent(session) && hint)
        self->presentHint(hint->label, hint->text);
}

void SessionController::presentHint(const QString& label, const QString& text)
{
    m_hintCount += 1;
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
    if (!m_runningPublished || !m_coach || m_currentTurns.isEmpty())
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
        if (self && self->isCurrent(session) && text)
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
    if (m_sessionStart)
        m_env.store->saveCheckpoint(SessionCheckpoint::make(*m_sessionStart, m_currentTurns, *m_env.clock));
}

void SessionController::stop()
{
    if (m_sessionStart) {
        const double endedAt = m_env.clock->now();
        const double duration = endedAt - *m_sessionStart;
        const double talkRatio = CallScore::talkRatio(m_currentTurns);
        const qint64 score = CallScore::estimate(talkRatio, m_hintCount, duration);
        const double speechCost = CallScore::speechToTextCostUSD(duration, m_micStreams);

        SessionRecord record;
        record.startedAt = *m_sessionStart;
        record.endedAt = endedAt;
        record.turns = m_currentTurns;
        record.hintCount = m_hintCount;
        record.deepgramCostUSD = speechCost;
        record.llmCostUSD = m_llmCostAccum;
        record.llmCalls = m_llmCallsAccum;
        record.score = score;
        record.talkRatio = talkRatio;
        m_env.store->save(record);
        m_lastRecord = record;
        NotificationCenter::instance().post(Notifications::sessionSaved, QVariant::fromValue(record));

        const bool analyse = m_currentTurns.size() >= minimumTurnsForAnalysis && m_coach;
        setPostCallSummary(PostCallSummary::atStop(record, analyse ? PostCallSummary::AnalysisRequest::started
                                                                   : PostCallSummary::AnalysisRequest::skipped));
        if (m_window)
            m_window->setLastScore(score);
        if (analyse)
            requestAnalysis(record, score);
    }

    // A start() still in flight keeps its flag: it clears it itself on every way out.
    ++m_session; // late work of this session now finds it gone
    setRunning(false);
    if (m_audio)
        m_audio->stop();
    m_audio.reset();
    if (m_deepgram)
        m_deepgram->stop(); // finishes the transcript stream: the consume loop ends
    m_deepgram.reset();
    if (m_sysAudio)
        m_sysAudio->stop();
    m_sysAudio.reset();
    if (m_deepgramSys)
        m_deepgramSys->stop();
    m_deepgramSys.reset();
    m_coach.reset();
    m_hintTimer.stop();
    m_checkpointTimer.stop();
    m_env.store->clearCheckpoint();
    if (m_window) {
        m_window->clearHint();
        m_window->setAudioError(false);
    }
    m_sessionStart.reset();
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
            isoDate(record.endedAt.value_or(record.startedAt)), record, estimate, m_postCallSummary->id);
}

QCoro::Task<> SessionController::analyse(QPointer<SessionController> self, QPointer<HintEngine> analyst,
                                         QString transcript, double durationSeconds, double talkRatio, qint64 hintCount,
                                         QString startedAt, QString endedAt, SessionRecord record, qint64 estimate,
                                         QUuid summaryId)
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
    self->m_env.store->save(record);
    NotificationCenter::instance().post(Notifications::sessionSaved, QVariant::fromValue(record));
}

} // namespace quiro
