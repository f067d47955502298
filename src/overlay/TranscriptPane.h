#pragma once

#include <QPropertyAnimation>
#include <QScrollArea>

class QVBoxLayout;

namespace quiro {

class SessionWindowModel;

// The live transcript under the panel's bar: the newest 20 lines, the seller's tagged "You" and
// the client's "Them", scrolled to the newest line whenever a line arrives or grows.
class TranscriptPane : public QScrollArea {
public:
    static constexpr int shownLines = 20;
    static constexpr int paneHeight = 168;

    TranscriptPane(SessionWindowModel& model, QWidget* parent = nullptr);

private:
    void rebuild();
    void scrollToNewest();

    SessionWindowModel& m_model;
    QWidget* m_rows;
    QVBoxLayout* m_layout;
    QPropertyAnimation m_scroll;
};

} // namespace quiro
