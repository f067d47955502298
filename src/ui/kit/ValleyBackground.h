#pragma once

#include <QWidget>

namespace quiro {

// The white canvas of the main window and onboarding, lit by a soft accent glow from the upper
// right. Screens place their content on it.
class ValleyBackground : public QWidget {
public:
    explicit ValleyBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quiro
