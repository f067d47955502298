#pragma once

#include <QString>

namespace quiro {

// One hint as the overlay shows it.
struct Hint {
    // At most eight words when it comes from the hint service.
    QString text;
    // One emoji, a blank and a short title (Playbook::label of the category).
    QString label;
    QString category;
    // Raw value of the call stage when the hint was made ("opening" ... "closing").
    QString stage;

    friend bool operator==(const Hint&, const Hint&) = default;
};

} // namespace quiro
