#pragma once

#include <QRectF>
#include <QSizeF>

namespace quiro {

// What the overlay keeps still when it changes size: its top edge (panel: it grows downward) or
// its vertical centre (island: it grows both ways). Screen coordinates, y down.
struct Anchor {
    enum class Edge { top, center };
    Edge edge = Edge::top;
    double y = 0.0;

    static Anchor top(double y) { return {Edge::top, y}; }
    static Anchor center(double y) { return {Edge::center, y}; }

    // The same kind of anchor, taken from where `frame` now stands.
    Anchor retakenFrom(const QRectF& frame) const;
    // The frame of `size` centred on `midX` and held by this anchor.
    QRectF frameFor(double midX, const QSizeF& size) const;

    bool operator==(const Anchor&) const = default;
};

} // namespace quiro
