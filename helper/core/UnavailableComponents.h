// Components for capabilities this build cannot provide yet. They fail
// honestly instead of pretending: the tap never starts, nothing is trusted,
// authentication is unavailable.
#pragma once

#include "LockComponents.h"

class UnavailableEventTap final : public EventTapInterface {
public:
    bool start() override { return false; }
    OptionalText lastStartFailureMessage() const override { return std::nullopt; }
    void stop() override {}
};

class UnavailableOverlay final : public OverlayInterface {
public:
    void setAlpha(double alpha) override { m_alpha = alpha; }
    double alpha() const override { return m_alpha; }
    void show() override {}
    void hide() override {}
    void resizeToCoverAllScreens() override {}

private:
    double m_alpha = 0.05;
};

class UnavailableAuth final : public AuthInterface {
public:
    static constexpr const char message[] = "Auth unavailable";
    void evaluate(Completion completion) override { completion(false, QString::fromLatin1(message)); }
};

class UnavailablePower final : public PowerInterface {
public:
    void preventDisplaySleep() override {}
    void allowDisplaySleep() override {}
};

class StaticDisplayWatcher final : public DisplayWatcherInterface {};

class UntrustedPermissions final : public PermissionsInterface {
public:
    bool accessibilityTrusted() override { return false; }
    bool inputMonitoringTrusted() override { return false; }
};

class SilentSounds final : public SoundInterface {
public:
    void play(const QString &) override {}
};

inline LockComponents unavailableComponents()
{
    return LockComponents{
        std::make_unique<UnavailableEventTap>(), std::make_unique<UnavailableOverlay>(),
        std::make_unique<UnavailableAuth>(),     std::make_unique<UnavailablePower>(),
        std::make_unique<StaticDisplayWatcher>(), std::make_unique<UntrustedPermissions>(),
        std::make_unique<SilentSounds>(),
    };
}
