#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// The main window's primary button: an ink capsule with a white title and an accent icon; the
// icon brightens and the shadow deepens under the pointer.
class ValleyButton : public HoverButton {
public:
    explicit ValleyButton(const QString& title, const QString& icon = {}, QWidget* parent = nullptr);

    // The symbol before the title, for a button whose action changes ("Begin", "End session").
    void setSymbol(const QString& icon);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Label label() const;
    QRectF capsule() const;

    QString m_icon;
};

} // namespace quiro
