#pragma once

#include "ui/kit/AnimationDelay.h"
#include "ui/main/HearingRow.h"
#include "ui/main/MainServices.h"

#include <QWidget>

class QComboBox;
class QLabel;

namespace quiro {

class QuiroCard;
class WidgetStyleChoice;

// Settings: how the floating widget looks, whether both sides of a call can be heard (with live
// levels while the tab is shown), the language calls are held in, and the signed-in account.
class SettingsHubView : public QWidget {
public:
    static constexpr int savedMs = 2000;

    explicit SettingsHubView(const MainServices& services, QWidget* parent = nullptr);

    HearingRow* hearing(HearingRow::Side side) const { return side == HearingRow::Side::seller ? m_voice : m_theirs; }
    QComboBox* languagePicker() const { return m_language; }
    QString languageStatus() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QuiroCard* widgetStyleSection(QWidget* parent);
    QuiroCard* hearingSection(QWidget* parent);
    QuiroCard* accountSection(QWidget* parent);
    // "Start Quiro when I log in", with what went wrong when it could not be changed.
    QWidget* startAtLogin(QWidget* parent);
    void showMode();
    void showAccount();
    void loadLanguage();
    void saveLanguage(int index);
    void setLanguageStatus(const QString& text, const QColor& color);

    MainServices m_services;
    WidgetStyleChoice* m_panel = nullptr;
    WidgetStyleChoice* m_island = nullptr;
    HearingRow* m_voice = nullptr;
    HearingRow* m_theirs = nullptr;
    QComboBox* m_language = nullptr;
    QLabel* m_languageStatus = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_email = nullptr;
    QWidget* m_signOut = nullptr;
    AnimationDelay m_languageSavedDelay;
};

} // namespace quiro
