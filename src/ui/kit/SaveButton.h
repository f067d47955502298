#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// "Save" on near-black; once saved it turns green and reads "Saved" with a check mark, until the
// screen clears the flag (usually on the next edit).
class SaveButton : public HoverButton {
public:
    explicit SaveButton(QWidget* parent = nullptr);

    bool isSaved() const { return m_saved; }
    void setSaved(bool saved);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Label label() const;

    bool m_saved = false;
};

} // namespace quiro
