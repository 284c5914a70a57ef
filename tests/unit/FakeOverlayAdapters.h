// Steerable stand-ins for the overlay's display adapters; they record every
// call in order so tests can check what reached the display and when.
#pragma once

#include "OverlayAdapters.h"

#include <QStringList>

struct FakeOverlayWindow final : OverlayWindowAdapter {
    bool createResult = true;
    bool coveredByOthers = false;
    QStringList calls;
    QRect frame;
    OverlayContentView content;
    bool onScreen = false;
    int raises = 0;

    bool create(const QRect &newFrame, const OverlayContentView &newContent) override
    {
        calls << QStringLiteral("create");
        if (!createResult)
            return false;
        frame = newFrame;
        content = newContent;
        return true;
    }
    void setContent(const OverlayContentView &newContent) override
    {
        calls << QStringLiteral("setContent");
        content = newContent;
    }
    void setFrame(const QRect &newFrame) override
    {
        calls << QStringLiteral("setFrame");
        frame = newFrame;
    }
    void orderFront() override
    {
        calls << QStringLiteral("orderFront");
        onScreen = true;
    }
    void orderOut() override
    {
        calls << QStringLiteral("orderOut");
        onScreen = false;
    }
    bool raiseAboveOthers() override
    {
        calls << QStringLiteral("raiseAboveOthers");
        if (!coveredByOthers)
            return false;
        ++raises;
        return true;
    }
    void rememberFocus() override { calls << QStringLiteral("rememberFocus"); }
    void restoreFocus() override { calls << QStringLiteral("restoreFocus"); }
};

struct FakeScreenLayout final : ScreenLayoutAdapter {
    QList<QRect> frames;
    QList<QRect> screenFrames() const override { return frames; }
};

struct FakeScreenChangeSource final : ScreenChangeSource {
    std::function<void()> handler;
    bool *unsubscribed = nullptr;
    void subscribe(std::function<void()> newHandler) override { handler = std::move(newHandler); }
    void unsubscribe() override
    {
        handler = nullptr;
        if (unsubscribed)
            *unsubscribed = true;
    }
};
