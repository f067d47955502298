#pragma once

#include "service/ApiReply.h"

#include <QByteArray>
#include <QFuture>
#include <QJsonObject>

namespace quiro::service {

// What answers the coach endpoints: the rules, or a language model with the rules behind it.
// Called on the event loop; the answer arrives through the future, in the shapes the app reads.
class Coach {
public:
    enum class Endpoint { hint, extract, assist, analyze };

    virtual ~Coach() = default;

    virtual QFuture<ApiReply> answer(Endpoint endpoint, const QByteArray& body) = 0;
    // Which coach this is and how it has fared, for "/health"; never a key.
    virtual QJsonObject status() const = 0;
};

} // namespace quiro::service
