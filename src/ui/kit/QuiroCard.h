#pragma once

#include "ui/kit/Card.h"
#include "ui/kit/DS.h"

namespace quiro {

// A smaller white card for lists and settings rows: corner radius 18, a fainter shadow.
class QuiroCard : public Card {
public:
    explicit QuiroCard(QWidget* parent = nullptr, int padding = 18)
        : Card({18.0, DS::surface, Qt::transparent, {withOpacity(DS::shadow, 0.05), 12.0, {0.0, 3.0}}}, padding, parent)
    {
    }
};

} // namespace quiro
