#pragma once

#include "ui/kit/Card.h"
#include "ui/kit/DS.h"

namespace quiro {

// The login window's form card: off-white with a hairline edge, lifted a little more than the
// main window's cards because it stands alone.
class DawnCard : public Card {
public:
    explicit DawnCard(QWidget* parent = nullptr, int padding = 32)
        : Card({24.0, DS::canvas2, DS::hairline, {withOpacity(DS::shadow, 0.08), 24.0, {0.0, 10.0}}}, padding, parent)
    {
    }
};

} // namespace quiro
