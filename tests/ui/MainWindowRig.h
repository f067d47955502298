#pragma once

#include "account/AuthManager.h"
#include "account/TokenStore.h"
#include "history/ConversationStore.h"
#include "history/SessionCheckpoint.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"
#include "support/TestSupport.h"
#include "ui/main/MainServices.h"

#include <QImage>
#include <QStringList>

#include <memory>

namespace quiro::test {

// Calls recorded on the test desktop (tests/ui/data/record-call.sh): a discovery call with a full
// analysis, a seller's monologue, a follow-up, a closing call, one too short to analyse, and the
// recovery checkpoint of a call whose program was killed.
namespace Recording {
inline const QString discovery = QStringLiteral("discovery-call");
inline const QString monologue = QStringLiteral("monologue-call");
inline const QString followUp = QStringLiteral("followup-call");
inline const QString closing = QStringLiteral("closing-call");
inline const QString tooShort = QStringLiteral("short-call");
inline const QString crashed = QStringLiteral("crashed-call");
// The five finished calls in the order they were made.
inline const QStringList finished{discovery, monologue, tooShort, closing, followUp};
} // namespace Recording

SessionRecord recordedCall(const QString& name);
SessionCheckpoint recordedCheckpoint(const QString& name);

// All of the scrolling page of a screen, as tall as its content, on the window's white.
QImage wholePage(const QWidget* screen);

// Everything the main window works with, in a temporary home: the signed-out account of "Dana
// Whitfield", a controller without a token, and a clock standing a minute after the recordings.
struct MainWindowRig {
    MainWindowRig();

    // Builds the controller, which picks up a recovery checkpoint stored before.
    void buildController();
    void storeCalls(const QStringList& names);

    TempHome home;
    ManualClock clock;
    ConversationStore store{clock};
    TokenStore tokens{TokenStore::Backend::fileOnly};
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<SessionWindowModel> overlay;
    std::unique_ptr<SessionController> controller;
    MainServices services;
};

} // namespace quiro::test
