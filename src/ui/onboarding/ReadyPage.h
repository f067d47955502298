#pragma once

#include <QWidget>

namespace quiro {

class AccentButton;

// The last page: what happens next, and "Start coaching", which ends the flow.
class ReadyPage : public QWidget {
    Q_OBJECT
public:
    explicit ReadyPage(QWidget* parent = nullptr);

    AccentButton* startButton() const { return m_start; }

signals:
    void completed();

private:
    AccentButton* m_start;
};

} // namespace quiro
