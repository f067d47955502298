#pragma once

#include "history/SessionRecord.h"
#include "ui/main/MainServices.h"

#include <QList>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace quiro {

class Banner;
class Entrance;
class RecoveryPrompt;
class ScoreTrend;
class SessionCard;
class ValleyInsightsStrip;

// Home: the greeting, the controller's alert, a call to recover, the call control, the insights,
// the score trend and the past conversations. The history is read again each time Home is shown
// and whenever a call is saved.
class HomeView : public QWidget {
    Q_OBJECT
public:
    explicit HomeView(const MainServices& services, QWidget* parent = nullptr);

    void reload();
    const QList<SessionRecord>& records() const { return m_records; }

    QString greeting() const;
    Banner* alert() const { return m_alert; }
    RecoveryPrompt* recovery() const { return m_recovery; }
    SessionCard* sessionCard() const { return m_session; }
    ValleyInsightsStrip* insights() const { return m_insights; }
    ScoreTrend* trend() const { return m_trend; }

signals:
    void recordOpened(const quiro::SessionRecord& record);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void greet();
    void showRecords();

    MainServices m_services;
    QList<SessionRecord> m_records;
    int m_unreadable = 0;

    QLabel* m_greeting;
    QLabel* m_date;
    Banner* m_alert;
    RecoveryPrompt* m_recovery;
    SessionCard* m_session;
    ValleyInsightsStrip* m_insights;
    QWidget* m_trendCard;
    ScoreTrend* m_trend;
    QLabel* m_trendCaption;
    QVBoxLayout* m_list;
    QLabel* m_unreadableNote;
    Entrance* m_entrance;
};

} // namespace quiro
