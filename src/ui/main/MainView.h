#pragma once

#include "history/PostCallSummary.h"
#include "history/SessionRecord.h"
#include "ui/kit/ValleyBackground.h"
#include "ui/main/AppTab.h"
#include "ui/main/MainServices.h"

#include <QPointer>

#include <optional>

class QStackedWidget;

namespace quiro {

class HomeView;
class PlaybookView;
class PostCallView;
class SettingsHubView;
class TabBar;

// The main window's content: the tab bar over Home, Playbook and Settings, and the debrief, which
// covers the tabs while it is open. A debrief opens for a past call chosen on Home and, on its
// own, for the summary the controller publishes when a call ends; it follows that summary while
// its analysis arrives. Dismissing the controller's debrief withdraws the summary.
class MainView : public ValleyBackground {
public:
    explicit MainView(const MainServices& services, QWidget* parent = nullptr);

    AppTab tab() const;
    void selectTab(AppTab tab);

    // Shows the debrief of `summary`; `record` is the stored call behind it, when there is one.
    void presentDebrief(const PostCallSummary& summary, const std::optional<SessionRecord>& record);
    void dismissDebrief();
    PostCallView* debrief() const;

    HomeView* home() const { return m_home; }
    SettingsHubView* settings() const { return m_settings; }
    TabBar* tabBar() const { return m_tabBar; }

protected:
    // The window moves when its background is dragged (nothing else there takes the press).
    void mousePressEvent(QMouseEvent* event) override;

private:
    void followControllerSummary();
    void recordSaved(const SessionRecord& record);

    MainServices m_services;
    QStackedWidget* m_layers;
    TabBar* m_tabBar;
    QStackedWidget* m_tabs;
    HomeView* m_home;
    PlaybookView* m_playbook;
    SettingsHubView* m_settings;
    QPointer<PostCallView> m_debrief;
    // Whether the open debrief is the controller's summary, which it then withdraws on dismissal.
    bool m_debriefOfController = false;
};

} // namespace quiro
