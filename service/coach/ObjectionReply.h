#pragma once

#include <QString>
#include <QStringList>

namespace quiro::service {

// Whether the seller's next turn answered a client's objection. One sentence of that turn has to
// take the concern up — use its vocabulary, a word the client used, or the competitor's name —
// and either explore it with a question or meet it with evidence (a figure, a customer, a
// guarantee, a comparison). An acknowledgement alone, a change of subject or a question about
// something else does not count.
namespace ObjectionReply {

struct Verdict {
    bool handled = false;
    QString note;
};

struct Turn {
    QString subType;        // the objection's sub-type ("price", "competitor", ...)
    QString objection;      // the client's line
    QString reply;          // everything the seller said before the client spoke again, "" for nothing
    bool callEnded = false; // nothing at all followed the objection
};

Verdict judge(const Turn& turn, const QStringList& competitorNames);

} // namespace ObjectionReply

} // namespace quiro::service
