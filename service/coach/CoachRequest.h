#pragma once

#include "service/ApiReply.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace quiro::service {

// The bodies of the coach endpoints as the app sends them, read and checked once, so that the
// rules and a language model answer exactly the same requests (and refuse the same ones).
namespace CoachRequest {

// A request read from its body, or the 400/422 that says why it cannot be.
template <typename Request> struct Parsed {
    std::optional<Request> request;
    ApiReply error;
};

struct Hint {
    QString phrase;
    QString context;
    QString stage;
    QString stageGoal;
    QString productContext;
    QString objectionResponses;
    std::optional<double> sellerTalkRatio;
    QJsonObject callState;
};

struct Extract {
    QString phrase;
};

struct Assist {
    QString transcript;
    QString productContext;
};

struct Analyze {
    QString transcript;
    std::optional<double> durationSec;
    std::optional<double> talkRatio;
    std::optional<double> hintCount;
    QString startedAt;
    QString endedAt;
    QString productContext;
};

Parsed<Hint> hint(const QByteArray& body);
Parsed<Extract> extract(const QByteArray& body);
Parsed<Assist> assist(const QByteArray& body);
// Also refused: a transcript without a "MGR: " or "CLT: " line.
Parsed<Analyze> analyze(const QByteArray& body);

inline const QString noLinesToAnalyse =
    QStringLiteral("The transcript holds no \"MGR: \" or \"CLT: \" lines to analyse");

} // namespace CoachRequest

} // namespace quiro::service
