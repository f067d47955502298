#pragma once

#include "service/ApiReply.h"
#include "service/coach/CoachRequest.h"

#include <QByteArray>

namespace quiro::service {

// The coach endpoints, from request body to reply, in the shapes the app's hint client reads:
// "/hint" {"raw": "<JSON text>", "cost": 0}, "/extract" {"facts"}, "/assist" {"hint", "cost": 0},
// "/analyze" {"analysis"}. The rules cost nothing, so "cost" is always 0.
namespace CoachService {

ApiReply hint(const QByteArray& body);
ApiReply extract(const QByteArray& body);
ApiReply assist(const QByteArray& body);
ApiReply analyze(const QByteArray& body);

// The same for requests already read.
ApiReply hint(const CoachRequest::Hint& request);
ApiReply extract(const CoachRequest::Extract& request);
ApiReply assist(const CoachRequest::Assist& request);
ApiReply analyze(const CoachRequest::Analyze& request);

// The on-demand hint for a transcript of "MGR: " / "CLT: " lines (at most eight words).
QString assistHint(const QString& transcript, const QString& productContext);

} // namespace CoachService

} // namespace quiro::service
