#pragma once

#include "history/SessionRecord.h"

#include <QList>
#include <QWidget>

namespace quiro {

// Who talked when: the call's turns as bars on a horizontal time axis, the seller's lane above the
// client's, so a seller sees at a glance where they held the floor for long.
class TalkTimeline : public QWidget {
    Q_OBJECT
public:
    // A stretch of talking, in seconds from the start of the call.
    struct Span {
        bool seller = false;
        double start = 0;
        double end = 0;
        bool operator==(const Span&) const = default;
    };
    struct Layout {
        double length = 0; // seconds the axis covers
        QList<Span> spans;
    };

    // A stored turn holds only when its final transcript arrived, not when it began. Each turn is
    // taken to end there and to have lasted as long as its words take at a steady speaking pace;
    // it never reaches back past the end of the turn before it or the start of the call.
    static constexpr double wordsPerSecond = 2.5;
    static Layout layout(const SessionRecord& record);

    explicit TalkTimeline(const SessionRecord& record, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Layout m_layout;
};

} // namespace quiro
