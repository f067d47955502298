#pragma once

#include <QWidget>

namespace quiro {

class AccentButton;

// The first page: what Quiro is, and "Get started".
class WelcomePage : public QWidget {
public:
    explicit WelcomePage(QWidget* parent = nullptr);

    AccentButton* startButton() const { return m_start; }

private:
    AccentButton* m_start;
};

} // namespace quiro
