// Where the popover window goes: centred on its anchor (the tray icon, or
// the pointer where the tray says nothing), below it when the anchor is in
// the upper half of the screen and above it otherwise, and moved back
// inside the screen's available area when it would stick out.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace PopoverPlacement {

// Space between the anchor and the popover.
inline constexpr int gap = 4;

QPoint position(const QRect &anchor, const QSize &popover, const QRect &available);

} // namespace PopoverPlacement
