#pragma once

#include "overlay/OverlayView.h"

#include <memory>

class QLabel;

namespace quiro {

class BreathingDot;
class FloatingWindow;
class GlassButton;
class ScorePill;
class SessionToggleButton;
class TranscriptPane;

// The panel: a 460-point dark bar with every control — start/stop, the live dot, the title or
// status or the hint, the last score, new call, transcript, capture, settings, close — and under
// it the audio warning and the transcript when they apply.
class PresenceView : public OverlayView {
public:
    static constexpr int barWidth = 460;
    static constexpr int idleHeight = 64;

    explicit PresenceView(SessionWindowModel& model, QWidget* parent = nullptr);
    ~PresenceView() override;

    QSize currentSize() const override;
    QPainterPath shape(const QRectF& bounds) const override;

    // The score card opened from the score pill, or null.
    FloatingWindow* scoreCard() const { return m_scoreCard.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildBar();
    QWidget* buildTextColumn();
    QWidget* buildControls();
    QWidget* buildWarningRow();
    void refresh();
    void toggleScoreCard();
    void closeScoreCard();
    void placeScoreCard();

    SessionToggleButton* m_toggle;
    BreathingDot* m_dot;
    QLabel* m_hintLabel;
    QLabel* m_title;
    ScorePill* m_scorePill;
    GlassButton* m_transcriptButton;
    QWidget* m_warning;
    TranscriptPane* m_transcript;
    std::unique_ptr<FloatingWindow> m_scoreCard;
};

} // namespace quiro
