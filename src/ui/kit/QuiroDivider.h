#pragma once

#include <QWidget>

namespace quiro {

// A one-point hairline across its width.
class QuiroDivider : public QWidget {
public:
    explicit QuiroDivider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quiro
