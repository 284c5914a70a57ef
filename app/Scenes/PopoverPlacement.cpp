#include "PopoverPlacement.h"

#include <algorithm>

namespace PopoverPlacement {

namespace {

// Keeps [start, start + length) inside [low, high); the low edge wins when
// the span is longer than the room.
int clampSpan(int start, int length, int low, int high)
{
    return std::max(low, std::min(start, high - length));
}

} // namespace

QPoint position(const QRect &anchor, const QSize &popover, const QRect &available)
{
    int x = anchor.x() + (anchor.width() - popover.width()) / 2;
    const bool below = 2 * anchor.y() + anchor.height() < 2 * available.y() + available.height();
    int y = below ? anchor.bottom() + 1 + gap : anchor.top() - gap - popover.height();
    x = clampSpan(x, popover.width(), available.left(), available.left() + available.width());
    y = clampSpan(y, popover.height(), available.top(), available.top() + available.height());
    return {x, y};
}

} // namespace PopoverPlacement
