#pragma once

#include <QString>

#include <optional>

namespace quiro::Preferences {

// The user preferences (QSettings, organisation "Quiro", application "quiro").
inline constexpr auto onboardingDoneKey = "onboarding_done_v2";
inline constexpr auto emailKey = "quiro_email";
inline constexpr auto nameKey = "quiro_name";

// What is wrong with the settings file when it exists but cannot be read (then every value reads as
// unset, the signed-in account included); nothing when it is fine or not there yet.
std::optional<QString> problem();

bool onboardingDone();
void setOnboardingDone(bool done);

std::optional<QString> email();
std::optional<QString> name();
void setAccount(const QString& email, const QString& name);
void clearAccount();

} // namespace quiro::Preferences
