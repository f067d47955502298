#include "ui/main/AppTab.h"

namespace quiro {

QString title(AppTab tab)
{
    switch (tab) {
    case AppTab::home:
        return QStringLiteral("Home");
    case AppTab::playbook:
        return QStringLiteral("Playbook");
    case AppTab::settings:
        return QStringLiteral("Settings");
    }
    return {};
}

} // namespace quiro
