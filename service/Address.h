#pragma once

#include <QString>
#include <QUrl>

namespace quiro::service::Address {

// An upstream's address without credentials, query or fragment (where a key might hide): what the
// log and "/health" may show.
QString shown(const QUrl& url);

} // namespace quiro::service::Address
