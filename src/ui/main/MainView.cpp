#include "ui/main/MainView.h"

#include "core/NotificationCenter.h"
#include "session/SessionController.h"
#include "ui/main/HomeView.h"
#include "ui/main/PlaybookView.h"
#include "ui/main/PostCallView.h"
#include "ui/main/SettingsHubView.h"
#include "ui/main/TabBar.h"

#include <QMouseEvent>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QWindow>

namespace quiro {

namespace {
enum Layer { tabsLayer, debriefLayer };
} // namespace

MainView::MainView(const MainServices& services, QWidget* parent)
    : ValleyBackground(parent)
    , m_services(services)
    , m_layers(new QStackedWidget(this))
    , m_tabBar(new TabBar(this))
    , m_tabs(new QStackedWidget(this))
    , m_home(new HomeView(m_services, this))
    , m_playbook(new PlaybookView(m_services.profileFile, this))
    , m_settings(new SettingsHubView(m_services, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 10, 0, 0);
    layout->addWidget(m_layers);

    auto* tabsPage = new QWidget(m_layers);
    auto* tabsLayout = new QVBoxLayout(tabsPage);
    tabsLayout->setContentsMargins(0, 0, 0, 0);
    tabsLayout->setSpacing(6);
    tabsLayout->addWidget(m_tabBar, 0, Qt::AlignHCenter);
    m_tabs->addWidget(m_home);
    m_tabs->addWidget(m_playbook);
    m_tabs->addWidget(m_settings);
    tabsLayout->addWidget(m_tabs, 1);
    m_layers->addWidget(tabsPage);

    connect(m_tabBar, &TabBar::tabSelected, this, &MainView::selectTab);
    connect(m_home, &HomeView::recordOpened, this,
            [this](const SessionRecord& record) { presentDebrief(PostCallSummary::fromRecord(record), record); });
    connect(m_services.controller, &SessionController::postCallSummaryChanged, this,
            &MainView::followControllerSummary);
    NotificationCenter::instance().observe(Notifications::sessionSaved, this, [this](const Notification& n) {
        recordSaved(n.object.value<SessionRecord>());
    });
    followControllerSummary();
}

AppTab MainView::tab() const
{
    return m_tabBar->current();
}

void MainView::selectTab(AppTab tab)
{
    m_tabBar->setCurrent(tab);
    m_tabs->setCurrentIndex(int(tab));
}

void MainView::presentDebrief(const PostCallSummary& summary, const std::optional<SessionRecord>& record)
{
    delete m_debrief;
    m_debriefOfController = false;
    m_debrief = new PostCallView(summary, record, m_layers);
    connect(m_debrief, &PostCallView::dismissed, this, &MainView::dismissDebrief);
    m_layers->addWidget(m_debrief);
    m_layers->setCurrentIndex(debriefLayer);
    m_debrief->appear();
}

PostCallView* MainView::debrief() const
{
    return m_debrief;
}

void MainView::dismissDebrief()
{
    if (!m_debrief)
        return;
    m_layers->setCurrentIndex(tabsLayer);
    m_debrief->deleteLater();
    m_debrief = nullptr;
    if (std::exchange(m_debriefOfController, false))
        m_services.controller->setPostCallSummary(std::nullopt);
}

void MainView::followControllerSummary()
{
    const std::optional<PostCallSummary>& summary = m_services.controller->postCallSummary();
    if (!summary)
        return;
    if (m_debrief && m_debriefOfController && m_debrief->summary().id == summary->id) {
        m_debrief->setSummary(*summary);
        return;
    }
    presentDebrief(*summary, m_services.controller->lastRecord());
    m_debriefOfController = true;
}

void MainView::recordSaved(const SessionRecord& record)
{
    // The call on display was saved again, with its analysis: the Markdown follows.
    if (m_debrief && m_debrief->record() && m_debrief->record()->id == record.id)
        m_debrief->setRecord(record);
}

void MainView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && window()->windowHandle())
        window()->windowHandle()->startSystemMove();
    ValleyBackground::mousePressEvent(event);
}

} // namespace quiro
