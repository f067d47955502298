#include "ui/main/HomeView.h"

#include "account/AuthManager.h"
#include "core/NotificationCenter.h"
#include "history/ConversationStore.h"
#include "session/SessionController.h"
#include "ui/kit/Card.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuiroCard.h"
#include "ui/kit/SymbolView.h"
#include "ui/main/Banner.h"
#include "ui/main/Entrance.h"
#include "ui/main/Greeting.h"
#include "ui/main/PageScroll.h"
#include "ui/main/RecoveryPrompt.h"
#include "ui/main/ScoreTrend.h"
#include "ui/main/SessionCard.h"
#include "ui/main/ValleyEmptyState.h"
#include "ui/main/ValleyInsightsStrip.h"
#include "ui/main/ValleySessionRow.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

namespace quiro {

HomeView::HomeView(const MainServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    auto* page = new PageScroll(this);
    QWidget* content = page->content();

    m_greeting = makeLabel({}, Fonts::display(28), DS::ink, content);
    m_date = makeLabel({}, Fonts::text(13), DS::inkSoft, content);
    page->add(m_greeting);
    page->add(m_date);
    page->addSpacing(6);

    m_alert = new Banner(content);
    page->add(m_alert);
    m_recovery = new RecoveryPrompt(*m_services.controller, content);
    page->add(m_recovery);
    m_session = new SessionCard(*m_services.controller, *m_services.clock, content);
    page->add(m_session);
    m_insights = new ValleyInsightsStrip(content);
    page->add(m_insights);

    auto* trendCard = new QuiroCard(content, 16);
    auto* trendTitle = new QHBoxLayout;
    trendTitle->setSpacing(8);
    trendTitle->addWidget(new SymbolView(QStringLiteral("chart.line.uptrend.xyaxis"), DS::inkSoft, 15, trendCard));
    trendTitle->addWidget(
        makeLabel(QStringLiteral("Score trend"), Fonts::text(13, QFont::DemiBold), DS::ink, trendCard));
    trendTitle->addStretch(1);
    m_trendCaption = makeLabel({}, Fonts::text(11.5), DS::inkFaint, trendCard);
    trendTitle->addWidget(m_trendCaption);
    trendCard->contentLayout()->addLayout(trendTitle);
    m_trend = new ScoreTrend(trendCard);
    trendCard->contentLayout()->addWidget(m_trend);
    m_trendCard = trendCard;
    page->add(trendCard);

    page->addSpacing(6);
    page->add(makeLabel(QStringLiteral("Past conversations"), Fonts::display(17), DS::ink, content));
    m_list = new QVBoxLayout;
    m_list->setSpacing(8);
    page->add(m_list);
    m_unreadableNote = makeLabel({}, Fonts::text(12), DS::inkFaint, content);
    m_unreadableNote->setWordWrap(true);
    page->add(m_unreadableNote);
    page->addStretch();

    m_entrance = new Entrance(page);

    SessionController& controller = *m_services.controller;
    m_alert->setText(controller.alert());
    connect(&controller, &SessionController::alertChanged, this,
            [this] { m_alert->setText(m_services.controller->alert()); });
    connect(m_services.auth, &AuthManager::nameChanged, this, &HomeView::greet);
    NotificationCenter& center = NotificationCenter::instance();
    center.observe(Notifications::sessionSaved, this, [this](const Notification&) { reload(); });
    // Another account's calls live in another folder.
    center.observe(Notifications::loggedOut, this, [this](const Notification&) { reload(); });
    greet();
}

QString HomeView::greeting() const
{
    return m_greeting->text();
}

void HomeView::greet()
{
    m_greeting->setText(Greeting::line(*m_services.clock, m_services.auth->name()));
    const auto now = QDateTime::fromMSecsSinceEpoch(qint64(m_services.clock->now() * 1000.0), Qt::LocalTime);
    m_date->setText(QLocale().toString(now.date(), QStringLiteral("dddd, MMMM d")));
}

void HomeView::reload()
{
    const ConversationStore::Listing listing =
        m_services.store->loadRecentListing(ConversationStore::defaultRecentLimit);
    m_records = listing.records;
    m_unreadable = listing.skippedFiles;
    showRecords();
}

void HomeView::showRecords()
{
    m_insights->setRecords(m_records);
    const QList<qint64> scores = ScoreTrend::scores(m_records);
    m_trend->setScores(scores);
    m_trendCard->setVisible(m_trend->hasTrend());
    m_trendCaption->setText(QStringLiteral("last %1 scored calls").arg(scores.size()));

    while (QLayoutItem* item = m_list->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QWidget* column = m_list->parentWidget();
    if (m_records.isEmpty()) {
        // Framed like the rows that will take its place.
        auto* empty = new Card({14.0, DS::surface, DS::hairline, {}}, 0, column);
        empty->contentLayout()->addWidget(new ValleyEmptyState(empty));
        m_list->addWidget(empty);
    }
    for (const SessionRecord& record : m_records) {
        auto* row = new ValleySessionRow(record, column);
        connect(row, &QAbstractButton::clicked, this, [this, row] { emit recordOpened(row->record()); });
        m_list->addWidget(row);
    }
    m_unreadableNote->setText(m_unreadable == 0 ? QString()
                                                : QStringLiteral("%1 saved %2 could not be read and %3 left out.")
                                                      .arg(m_unreadable)
                                                      .arg(m_unreadable == 1 ? "call" : "calls")
                                                      .arg(m_unreadable == 1 ? "is" : "are"));
    m_unreadableNote->setVisible(m_unreadable > 0);
}

void HomeView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    greet();
    reload();
    m_session->startClock();
    m_entrance->play();
}

void HomeView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_session->stopClock();
}

} // namespace quiro
