#pragma once

#include <QObject>
#include <QVariantAnimation>

class QWidget;

namespace quiro {

// The gentle bob of the onboarding artwork: an offset that drifts between 0 and -amplitude and
// back, over and over, while the target is shown. Runs on Qt's animation clock.
class FloatMotion final : public QObject {
    Q_OBJECT
public:
    FloatMotion(QWidget* target, double amplitude, int periodMs);

    double offset() const { return m_offset; }

signals:
    void offsetChanged(double offset);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_target;
    QVariantAnimation m_animation;
    double m_offset = 0.0;
};

} // namespace quiro
