#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// One way the floating widget can look: an icon, a title and what it is like; the chosen one is
// outlined in ink.
class WidgetStyleChoice : public HoverButton {
public:
    WidgetStyleChoice(const QString& icon, const QString& title, const QString& description, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {300, 112}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_icon;
    QString m_description;
};

} // namespace quiro
