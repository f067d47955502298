#pragma once

#include <QString>

#include <array>

namespace quiro {

enum class AppTab { home, playbook, settings };

inline constexpr std::array<AppTab, 3> allTabs{AppTab::home, AppTab::playbook, AppTab::settings};

QString title(AppTab tab);

} // namespace quiro
