#include "app/cli/ConsoleCommand.h"

#include "account/AuthManager.h"
#include "app/cli/Command.h"
#include "app/cli/CommandLine.h"
#include "app/cli/ServiceCheck.h"
#include "app/cli/TerminalText.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "history/ConversationStore.h"
#include "history/PostCallAnalysis.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quiro::cli {

namespace {

constexpr int analysisWaitMs = 60'000;
constexpr int interruptedStatus = 130;
// Timers count milliseconds in an int; a day is far beyond any call and far below that limit.
constexpr int longestCallSeconds = 24 * 60 * 60;
constexpr int serviceCheckTimeoutMs = 5000;
constexpr auto expiredAdvice = "quiro console: your sign-in has expired; run 'quiro login EMAIL' to sign in again.\n";

// Ctrl+C arrives as a signal; the handler only writes a byte that the event loop then reads.
int s_interruptWriteFd = -1;

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(s_interruptWriteFd, &byte, 1);
}

// One coached call, from start to debrief, printed as it happens.
class ConsoleCall : public QObject {
public:
    ConsoleCall(SessionController& controller, SessionWindowModel& window, int durationSeconds)
        : m_controller(controller)
        , m_window(window)
        , m_out(stdout)
        , m_style(useColour())
    {
        printAsItHappens();
        // The duration counts from the moment the call is heard, like the saved call's.
        if (durationSeconds > 0) {
            connect(&m_controller, &SessionController::runningChanged, this, [this, durationSeconds] {
                if (m_controller.running())
                    QTimer::singleShot(durationSeconds * 1000, this, [this] { endCall(); });
            });
        }
        // The call may end without us: the service refused the sign-in or the stream for good.
        connect(&m_controller, &SessionController::stateChanged, this, [this] {
            if (m_controller.state() == SessionController::State::idle)
                callEnded();
        });
        listenForInterrupts();
        listenForKeys();
    }

    // Runs the event loop until the debrief is printed (or a second Ctrl+C); the exit status.
    int exec() { return QCoreApplication::exec(); }

private:
    void printAsItHappens()
    {
        NotificationCenter::instance().observe(Notifications::loggedOut, this,
                                               [this](const Notification&) { m_signedOut = true; });
        NotificationCenter::instance().observe(Notifications::transcript, this, [this](const Notification& n) {
            line(speakerName(n.userInfo.value(QStringLiteral("speaker")).toString()) + QStringLiteral(": ") +
                 clean(n.userInfo.value(QStringLiteral("text")).toString()));
        });
        connect(&m_window, &SessionWindowModel::hintChanged, this, [this] {
            if (const auto& hint = m_window.hint())
                line(m_style.bold(clean(hint->label) + QStringLiteral("  ") + clean(hint->text)));
        });
        connect(&m_window, &SessionWindowModel::statusTextChanged, this,
                [this] { line(m_style.faint(QStringLiteral("· ") + m_window.statusText())); });
        connect(&m_controller, &SessionController::alertChanged, this, [this] {
            // Before the call runs, a failed start says it itself, in one sentence.
            if (m_controller.state() == SessionController::State::idle && !m_ended)
                return;
            if (!m_controller.alert().isEmpty())
                QTextStream(stderr) << m_style.red(m_controller.alert()) << '\n';
        });
        connect(&m_controller, &SessionController::recoveredCallSaved, this, [this](const SessionRecord& record) {
            line(QStringLiteral("Recovered %1 from a call that ended unexpectedly at %2 — saved to history as %3")
                     .arg(record.turns.size() == 1 ? QStringLiteral("1 turn")
                                                   : QStringLiteral("%1 turns").arg(record.turns.size()))
                     .arg(QDateTime::fromMSecsSinceEpoch(qint64(record.endedAt.value_or(record.startedAt) * 1000.0))
                              .toLocalTime()
                              .toString(QStringLiteral("HH:mm")),
                          record.id.toString(QUuid::WithoutBraces).toUpper()));
        });
        connect(&m_window, &SessionWindowModel::audioErrorChanged, this, [this] {
            if (m_window.audioError())
                line(m_style.red(QStringLiteral("Only your microphone is heard: the computer's playback cannot be "
                                                "recorded. Run 'quiro doctor' to see why.")));
        });
    }

    void listenForInterrupts()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return;
        s_interruptWriteFd = fds[0];
        m_interruptReadFd = fds[1];
        auto* notifier = new QSocketNotifier(m_interruptReadFd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char byte;
            [[maybe_unused]] const auto got = ::read(m_interruptReadFd, &byte, 1);
            // The terminal has echoed "^C" without a line break.
            if (::isatty(STDOUT_FILENO))
                line(QString());
            if (m_ended) {
                // The record is already on disk; only the analysis is given up.
                line(QStringLiteral("Not waiting for the analysis."));
                QCoreApplication::exit(interruptedStatus);
                return;
            }
            endCall();
        });
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    void listenForKeys()
    {
        auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
            char buffer[256];
            const auto got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                notifier->setEnabled(false); // end of input: the call goes on until Ctrl+C or the duration
                return;
            }
            m_typed.append(buffer, got);
            qsizetype newline;
            while ((newline = m_typed.indexOf('\n')) >= 0) {
                const QByteArray typed = m_typed.left(newline).trimmed();
                m_typed.remove(0, newline + 1);
                if (typed == "a" && !m_ended)
                    m_controller.manualAssist();
            }
        });
    }

    void endCall()
    {
        if (m_ended)
            return;
        m_ended = true;
        // The streams still deliver their last results; the call is saved once they have.
        if (m_controller.state() != SessionController::State::idle)
            line(m_style.faint(QStringLiteral("· Ending the call…")));
        m_controller.stop();
        if (m_controller.state() == SessionController::State::idle)
            callEnded();
    }

    void callEnded()
    {
        if (m_saidEnded)
            return;
        m_saidEnded = m_ended = true;
        const auto& record = m_controller.lastRecord();
        if (!record) {
            finish(Failure);
            return;
        }
        // Anything the user has to act on (a save that failed, a sign-in that expired, a stream
        // the service refused) makes the call end as a failure.
        m_failed = !m_controller.alert().isEmpty();
        if (m_controller.lastRecordSaved()) {
            line(QStringLiteral("Call ended after %1; saved as %2.")
                     .arg(PostCallSummary::durationText(record->durationSeconds()),
                          record->id.toString(QUuid::WithoutBraces).toUpper()));
        } else if (!m_controller.recoveredCheckpoint() ||
                   !QFileInfo::exists(ConversationStore::shared().checkpointPath())) {
            QTextStream(stderr) << "quiro console: the transcript above is the only copy of this call.\n";
        }
        if (printDebriefIfSettled())
            return;
        line(QStringLiteral("Waiting for the analysis (up to a minute; Ctrl+C to skip)…"));
        connect(&m_controller, &SessionController::postCallSummaryChanged, this, [this] { printDebriefIfSettled(); });
        QTimer::singleShot(analysisWaitMs, this, [this] {
            if (!m_printed) {
                line(QStringLiteral("The analysis did not arrive within a minute."));
                printDebrief();
            }
        });
    }

    bool printDebriefIfSettled()
    {
        const auto& summary = m_controller.postCallSummary();
        if (!summary || summary->displayState() == PostCallSummary::DisplayState::pending)
            return false;
        printDebrief();
        return true;
    }

    void printDebrief()
    {
        if (m_printed)
            return;
        m_printed = true;
        const auto& summary = m_controller.postCallSummary();
        const auto& record = m_controller.lastRecord();
        m_out << '\n'
              << m_style.bold(QStringLiteral("Score "))
              << (record->turns.isEmpty() ? PostCallSummary::noSpeechHeard
                                          : m_style.score(summary ? summary->score : *record->score))
              << "   you spoke " << PostCallSummary::talkSharePercent(record->talkRatio.value_or(0.5)) << "%   "
              << counted(record->turns.size(), "turn", "turns") << "   " << counted(record->hintCount, "hint", "hints")
              << "\n\n";
        if (summary && summary->displayState() == PostCallSummary::DisplayState::present)
            printAnalysis(m_out, PostCallAnalysis::read(*summary->analysis), m_style);
        else if (record->turns.size() < SessionController::minimumTurnsForAnalysis)
            m_out << m_style.bold(QStringLiteral("Not analysed")) << '\n'
                  << QStringLiteral("Calls are analysed from %1 turns on; this one has %2.")
                         .arg(SessionController::minimumTurnsForAnalysis)
                         .arg(record->turns.size())
                  << '\n';
        else
            m_out << m_style.bold(AnalysisSection::unavailableTitle) << '\n'
                  << AnalysisSection::unavailableDetail << '\n';
        m_out.flush();
        finish(m_failed ? Failure : Success);
    }

    // Ends the event loop. After the service refused the sign-in, the stored token is removed first.
    void finish(int status)
    {
        if (!m_signedOut) {
            QCoreApplication::exit(status);
            return;
        }
        QCoro::connect(AuthManager::shared().logout(), this, [] {
            QTextStream(stderr) << expiredAdvice;
            QCoreApplication::exit(Failure);
        });
    }

    void line(const QString& text)
    {
        m_out << text << '\n';
        m_out.flush();
    }

    SessionController& m_controller;
    SessionWindowModel& m_window;
    QTextStream m_out;
    Style m_style;
    int m_interruptReadFd = -1;
    QByteArray m_typed;
    bool m_ended = false;
    bool m_saidEnded = false;
    bool m_failed = false;
    bool m_signedOut = false;
    bool m_printed = false;
};

// The service refused the sign-in: the stored token goes before we exit, and the user hears what to do.
int signedOut(AuthManager& auth)
{
    QCoro::waitFor(auth.logout());
    QTextStream(stderr) << expiredAdvice;
    return Failure;
}

} // namespace

int runConsole(const QStringList& arguments)
{
    CommandLine commandLine(
        QStringLiteral("console"),
        QStringLiteral("Usage: quiro console [--duration SECONDS] [--verbose]\n\n"
                       "One coached call in the terminal: both sides' lines and the hints as they happen,\n"
                       "then the score and the debrief. Type a and Enter for a hint now; Ctrl+C ends the call.\n"
                       "What happens behind the scenes goes to %1.\n\n"
                       "Options:\n"
                       "  --duration SECONDS   end the call by itself after SECONDS (at most 86400)\n"
                       "  --verbose            show the log lines on standard error as well\n"
                       "  -h, --help           show this help\n")
            .arg(Paths::logFile()));
    const QCommandLineOption duration(QStringLiteral("duration"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    commandLine.addOption(duration);
    commandLine.addOption(verbose);
    if (const auto parsed = commandLine.parse(arguments, 0, 0); parsed != CommandLine::Parsed::run)
        return CommandLine::exitStatus(parsed);
    int durationSeconds = 0;
    if (commandLine.isSet(duration)) {
        bool ok = false;
        durationSeconds = commandLine.value(duration).toInt(&ok);
        if (!ok || durationSeconds <= 0 || durationSeconds > longestCallSeconds)
            return commandLine.wrongUsage(
                QStringLiteral("--duration takes a whole number of seconds from 1 to %1 (24 hours).")
                    .arg(longestCallSeconds));
    }
    if (commandLine.isSet(verbose))
        Log::toFile(Paths::logFile(), Log::Echo::toStandardError);

    AuthManager& auth = AuthManager::shared();
    QCoro::waitFor(auth.restore());
    if (!auth.isLoggedIn()) {
        QTextStream(stderr) << "quiro console: you are not signed in; run 'quiro login EMAIL' first.\n";
        return Failure;
    }

    const Config config = Config::load();
    const ServiceCheck::Result service = QCoro::waitFor(ServiceCheck::run(config, serviceCheckTimeoutMs));
    if (!service.answers) {
        QTextStream(stderr) << "quiro console: " << service.detail << ".\n";
        return Failure;
    }

    SessionWindowModel window;
    SessionController controller(SessionController::Environment::standard());
    controller.setSessionWindow(&window);
    ConsoleCall call(controller, window, durationSeconds);

    QTextStream(stdout) << "Starting a coached call as " << auth.email().value_or(QString())
                        << ". Type a and Enter for a hint now; Ctrl+C ends the call.\n";
    QCoro::waitFor(controller.start());
    if (!controller.running()) {
        if (!auth.isLoggedIn())
            return signedOut(auth);
        const QString reason = controller.alert();
        QTextStream(stderr) << "quiro console: the call could not start"
                            << (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason)
                            << ". Run 'quiro doctor' to see what is missing.\n";
        return Failure;
    }
    // The account manager is gone once the event loop has ended: nothing here may use `auth` now.
    return call.exec();
}

} // namespace quiro::cli
