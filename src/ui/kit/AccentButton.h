#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// The call to action: an accent capsule with an ink title and a trailing arrow; the accent deepens
// under the pointer.
class AccentButton : public HoverButton {
public:
    explicit AccentButton(const QString& title, const QString& icon = QStringLiteral("arrow.right"),
                          QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Label label() const;

    QString m_icon;
};

} // namespace quiro
