#pragma once

#include <QWidget>

class QLabel;

namespace quiro {

class BreathingDot;

// The island's state in one word beside a dot: "Listening" beside a breathing live-green dot while a
// session runs; otherwise "Ended" after a scored call or "Ready", beside a still faint dot.
class SessionStateBadge : public QWidget {
public:
    explicit SessionStateBadge(QWidget* parent = nullptr);

    void setState(bool running, bool callEnded);

private:
    BreathingDot* m_dot;
    QLabel* m_word;
};

} // namespace quiro
