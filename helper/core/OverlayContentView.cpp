#include "OverlayContentView.h"

#include <cmath>

double OverlayContentView::clampedAlpha() const
{
    if (std::isnan(m_alpha) || m_alpha <= 0.0)
        return 0.0;
    return m_alpha >= 1.0 ? 1.0 : m_alpha;
}

quint32 OverlayContentView::backgroundPixel() const
{
    // Black premultiplied by any alpha keeps zero colour channels.
    const auto alphaByte = quint32(std::lround(clampedAlpha() * 255.0));
    return alphaByte << 24;
}

QList<int> OverlayContentView::darkRowsInPeriod() const
{
    const int darkRows = int(std::lround(clampedAlpha() * rowPeriod));
    QList<int> rows;
    // Bresenham-style spreading: a row is dark where the running share of
    // dark rows steps up, so the rows are as evenly spaced as they can be.
    for (int row = 0; row < rowPeriod; ++row) {
        if ((row + 1) * darkRows / rowPeriod > row * darkRows / rowPeriod)
            rows.append(row);
    }
    return rows;
}
