#include "service/Address.h"

namespace quiro::service::Address {

QString shown(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

} // namespace quiro::service::Address
