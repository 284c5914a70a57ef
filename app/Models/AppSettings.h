// The user's eight settings, loaded once from the user's settings store,
// written back at once on every assignment, and turned into the payload the
// helper reads. Every assignment notifies, also of an unchanged value.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSettings>

#include <memory>

class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(double overlayAlpha READ overlayAlpha WRITE setOverlayAlpha NOTIFY overlayAlphaChanged)
    Q_PROPERTY(qint64 autoLockIdleSeconds READ autoLockIdleSeconds WRITE setAutoLockIdleSeconds NOTIFY autoLockIdleSecondsChanged)
    Q_PROPERTY(bool preventDisplaySleep READ preventDisplaySleep WRITE setPreventDisplaySleep NOTIFY preventDisplaySleepChanged)
    Q_PROPERTY(bool showStatusHUD READ showStatusHUD WRITE setShowStatusHUD NOTIFY showStatusHUDChanged)
    Q_PROPERTY(bool interceptSystemLock READ interceptSystemLock WRITE setInterceptSystemLock NOTIFY interceptSystemLockChanged)
    Q_PROPERTY(bool disableHotCorners READ disableHotCorners WRITE setDisableHotCorners NOTIFY disableHotCornersChanged)
    Q_PROPERTY(bool playSounds READ playSounds WRITE setPlaySounds NOTIFY playSoundsChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)

public:
    static constexpr double defaultOverlayAlpha = 0.05;
    static constexpr qint64 defaultAutoLockIdleSeconds = 0;
    static constexpr bool defaultPreventDisplaySleep = true;
    static constexpr bool defaultShowStatusHUD = true;
    static constexpr bool defaultInterceptSystemLock = true;
    static constexpr bool defaultDisableHotCorners = true;
    static constexpr bool defaultPlaySounds = false;
    static constexpr bool defaultLaunchAtLogin = false;

    // Without a store, the user's own: organisation "zelquor", application
    // "Paneveil", in the platform's native format.
    explicit AppSettings(std::unique_ptr<QSettings> defaults = {}, QObject *parent = nullptr);
    ~AppSettings() override;

    static std::unique_ptr<QSettings> standardStore();

    double overlayAlpha() const { return m_overlayAlpha; }
    qint64 autoLockIdleSeconds() const { return m_autoLockIdleSeconds; }
    bool preventDisplaySleep() const { return m_preventDisplaySleep; }
    bool showStatusHUD() const { return m_showStatusHUD; }
    bool interceptSystemLock() const { return m_interceptSystemLock; }
    bool disableHotCorners() const { return m_disableHotCorners; }
    bool playSounds() const { return m_playSounds; }
    bool launchAtLogin() const { return m_launchAtLogin; }

    void setOverlayAlpha(double value);
    void setAutoLockIdleSeconds(qint64 value);
    void setPreventDisplaySleep(bool value);
    void setShowStatusHUD(bool value);
    void setInterceptSystemLock(bool value);
    void setDisableHotCorners(bool value);
    void setPlaySounds(bool value);
    void setLaunchAtLogin(bool value);

    // The settings payload of all eight values; empty if it cannot be written.
    QByteArray encoded() const;

    // How a stored value of any kind reads as each type. A key that holds a
    // value always yields that value converted, never the fallback.
    static double doubleValue(const QSettings &defaults, const char *key, double fallback);
    static qint64 integerValue(const QSettings &defaults, const char *key, qint64 fallback);
    static bool boolValue(const QSettings &defaults, const char *key, bool fallback);

Q_SIGNALS:
    // Once per assignment of any setting, after it reached the store.
    void changes();

    void overlayAlphaChanged();
    void autoLockIdleSecondsChanged();
    void preventDisplaySleepChanged();
    void showStatusHUDChanged();
    void interceptSystemLockChanged();
    void disableHotCornersChanged();
    void playSoundsChanged();
    void launchAtLoginChanged();

private:
    void persist(const QVariant &value, const char *key);

    double m_overlayAlpha;
    qint64 m_autoLockIdleSeconds;
    bool m_preventDisplaySleep;
    bool m_showStatusHUD;
    bool m_interceptSystemLock;
    bool m_disableHotCorners;
    bool m_playSounds;
    bool m_launchAtLogin;
    std::unique_ptr<QSettings> m_defaults;
};
