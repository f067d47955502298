#pragma once

#include <QColor>

namespace quiro {

// A call's score on the main window's light ground: green from 80, grey from 55, red below. The
// bands are the overlay's; its lime middle band would not read on white, hence the grey.
QColor scoreTint(qint64 score);

} // namespace quiro
