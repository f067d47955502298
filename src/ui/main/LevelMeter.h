#pragma once

#include <QWidget>

namespace quiro {

// A row of segments lit as far as the level reaches, from -60 dBFS (none) to 0 dBFS (all). It
// falls back gently, so that speech reads as a level rather than a flicker.
class LevelMeter : public QWidget {
public:
    static constexpr double floorDbfs = -60.0;

    explicit LevelMeter(QWidget* parent = nullptr);

    void setLevel(double dbfs);
    void clear();
    // How much of the meter is lit, 0 to 1.
    double fill() const { return m_fill; }

    QSize sizeHint() const override { return {140, 8}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_fill = 0.0;
};

} // namespace quiro
