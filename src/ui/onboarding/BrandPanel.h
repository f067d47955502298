#pragma once

#include <QWidget>

namespace quiro {

// The login window's dark side: the mark, what Quiro is, and one true line about where the
// user's calls are kept.
class BrandPanel : public QWidget {
public:
    explicit BrandPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quiro
