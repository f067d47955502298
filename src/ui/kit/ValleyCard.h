#pragma once

#include "ui/kit/Card.h"
#include "ui/kit/DS.h"

namespace quiro {

// The main window's white card: corner radius 20, a faint shadow.
class ValleyCard : public Card {
public:
    explicit ValleyCard(QWidget* parent = nullptr, int padding = 24)
        : Card({20.0, DS::surface, Qt::transparent, {withOpacity(DS::shadow, 0.06), 18.0, {0.0, 6.0}}}, padding, parent)
    {
    }
};

} // namespace quiro
