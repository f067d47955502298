#pragma once

#include "ui/kit/Card.h"

class QLabel;

namespace quiro {

// A line the user must not miss (a save that failed, a call that could not start) on a soft red
// ground. Hidden while it has nothing to say.
class Banner : public Card {
public:
    explicit Banner(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;

private:
    QLabel* m_text;
};

} // namespace quiro
