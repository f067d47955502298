#pragma once

#include <QList>
#include <QWidget>

#include <qcoro/qcorotask.h>

class QLabel;
class QStackedWidget;

namespace quiro {

class LevelMeter;
class LiveLevel;
class ProgressSpinner;
class SymbolView;

// Whether one side of the call can be heard on this desktop, checked each time Settings is shown:
// the device and its live level while it works; otherwise what is wrong, a way to the desktop's
// sound settings (or what to install for them) and a second try.
class HearingRow : public QWidget {
public:
    enum class Side {
        seller, // the default microphone
        client, // what the computer plays, through the default output's monitor
    };
    enum class Status { idle, checking, heard, problem };

    explicit HearingRow(Side side, QWidget* parent = nullptr);

    // Checks the side and then meters it until deactivate().
    void activate();
    void deactivate();

    Status status() const { return m_status; }
    // The device when heard, the problem otherwise.
    QString detail() const;
    LevelMeter* meter() const { return m_meter; }

private:
    QCoro::Task<> check(quint64 generation);
    void showBody(int page);
    void showChecking();
    void showHeard(const QString& device);
    void showProblem(const QString& reason);

    Side m_side;
    Status m_status = Status::idle;
    quint64 m_generation = 0;
    LiveLevel* m_level;

    QStackedWidget* m_mark;
    // What is shown under the title: one of checking, heard and problem.
    QList<QWidget*> m_bodies;
    QLabel* m_device;
    LevelMeter* m_meter;
    QLabel* m_reason;
};

} // namespace quiro
