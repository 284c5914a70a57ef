// The overlay's picture: black with the tint's alpha over the whole window,
// nothing drawn on top. Window adapters paint it from these values.
#pragma once

#include <QList>
#include <QtGlobal>

class OverlayContentView {
public:
    explicit OverlayContentView(double alpha = defaultAlpha) : m_alpha(alpha) {}

    static constexpr double defaultAlpha = 0.05;
    // Without a compositor the tint becomes opaque black rows: this many rows
    // form one repeat of the pattern.
    static constexpr int rowPeriod = 20;
    // The overlay takes every click itself, so none falls through to the
    // windows beneath, even where a shaped pattern lets them show.
    static constexpr bool acceptsFirstMouse = true;

    double alpha() const { return m_alpha; }

    // Black with the alpha as a premultiplied ARGB32 pixel, which is how
    // compositors blend a 32-bit window. Out-of-range alphas are clamped.
    quint32 backgroundPixel() const;

    // Rows within one period that are drawn opaque black when no compositor
    // blends the window: round(alpha * rowPeriod) rows, spread evenly.
    QList<int> darkRowsInPeriod() const;

    bool operator==(const OverlayContentView &) const = default;

private:
    double clampedAlpha() const;
    double m_alpha;
};
