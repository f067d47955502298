#pragma once

#include "ui/kit/Card.h"
#include "ui/kit/DS.h"

namespace quiro {

// Onboarding's frosted card: translucent white over the valley background, so the accent glow
// shows through.
class GlassCard : public Card {
public:
    explicit GlassCard(QWidget* parent = nullptr, int padding = 24)
        : Card({22.0, white(0.72), white(0.9), {withOpacity(DS::shadow, 0.05), 16.0, {0.0, 4.0}}}, padding, parent)
    {
    }
};

} // namespace quiro
