#include "AppSettings.h"

#include "Constants.h"
#include "Log.h"
#include "SettingsPayload.h"

#include <QSettings>

#include <cmath>
#include <limits>
#include <optional>

namespace {

// A stored value read as a number: numbers and booleans as they are, text
// parsed as a number or as the words true/yes (1) and false/no (0). Lists,
// maps and unparsable text are none.
std::optional<double> storedNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (ok)
            return number;
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
            return 1.0;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0)
            return 0.0;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

QString keyName(const char *key)
{
    return QString::fromLatin1(key);
}

} // namespace

AppSettings::AppSettings(std::unique_ptr<QSettings> defaults, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults ? std::move(defaults) : standardStore())
{
    const QSettings &store = *m_defaults;
    m_overlayAlpha = doubleValue(store, PVDefaultsKey::overlayAlpha, defaultOverlayAlpha);
    m_autoLockIdleSeconds = integerValue(store, PVDefaultsKey::autoLockIdleSeconds, defaultAutoLockIdleSeconds);
    m_preventDisplaySleep = boolValue(store, PVDefaultsKey::preventDisplaySleep, defaultPreventDisplaySleep);
    m_showStatusHUD = boolValue(store, PVDefaultsKey::showStatusHUD, defaultShowStatusHUD);
    m_interceptSystemLock = boolValue(store, PVDefaultsKey::interceptSystemLock, defaultInterceptSystemLock);
    m_disableHotCorners = boolValue(store, PVDefaultsKey::disableHotCorners, defaultDisableHotCorners);
    m_playSounds = boolValue(store, PVDefaultsKey::playSounds, defaultPlaySounds);
    m_launchAtLogin = boolValue(store, PVDefaultsKey::launchAtLogin, defaultLaunchAtLogin);
}

AppSettings::~AppSettings() = default;

std::unique_ptr<QSettings> AppSettings::standardStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("zelquor"),
                                       QStringLiteral("Paneveil"));
}

double AppSettings::doubleValue(const QSettings &defaults, const char *key, double fallback)
{
    if (!defaults.contains(keyName(key)))
        return fallback;
    return storedNumber(defaults.value(keyName(key))).value_or(0.0);
}

qint64 AppSettings::integerValue(const QSettings &defaults, const char *key, qint64 fallback)
{
    if (!defaults.contains(keyName(key)))
        return fallback;
    const QVariant value = defaults.value(keyName(key));
    bool exact = false;
    const qint64 integer = value.typeId() == QMetaType::Double ? 0 : value.toLongLong(&exact);
    if (exact)
        return integer;
    // Fractions are cut toward zero; what no 64-bit integer holds reads as 0.
    const double number = storedNumber(value).value_or(0.0);
    constexpr double limit = 9223372036854775807.0;
    if (!std::isfinite(number) || number >= limit || number < -limit)
        return 0;
    return qint64(std::trunc(number));
}

bool AppSettings::boolValue(const QSettings &defaults, const char *key, bool fallback)
{
    if (!defaults.contains(keyName(key)))
        return fallback;
    const std::optional<double> number = storedNumber(defaults.value(keyName(key)));
    return number && *number != 0.0 && !std::isnan(*number);
}

void AppSettings::persist(const QVariant &value, const char *key)
{
    m_defaults->setValue(keyName(key), value);
    // Written through at once, so another process or a second store sees it.
    m_defaults->sync();
    if (m_defaults->status() != QSettings::NoError)
        pvLog(QStringLiteral("[AppSettings] could not write %1 to %2").arg(keyName(key), m_defaults->fileName()));
}

#define PANEVEIL_SETTING_SETTER(Setter, member, Type, key, signal) \
    void AppSettings::Setter(Type value)                           \
    {                                                              \
        member = value;                                            \
        Q_EMIT signal();                                           \
        persist(QVariant::fromValue(value), key);                  \
        Q_EMIT changes();                                          \
    }

PANEVEIL_SETTING_SETTER(setOverlayAlpha, m_overlayAlpha, double, PVDefaultsKey::overlayAlpha, overlayAlphaChanged)
PANEVEIL_SETTING_SETTER(setAutoLockIdleSeconds, m_autoLockIdleSeconds, qint64, PVDefaultsKey::autoLockIdleSeconds,
                        autoLockIdleSecondsChanged)
PANEVEIL_SETTING_SETTER(setPreventDisplaySleep, m_preventDisplaySleep, bool, PVDefaultsKey::preventDisplaySleep,
                        preventDisplaySleepChanged)
PANEVEIL_SETTING_SETTER(setShowStatusHUD, m_showStatusHUD, bool, PVDefaultsKey::showStatusHUD, showStatusHUDChanged)
PANEVEIL_SETTING_SETTER(setInterceptSystemLock, m_interceptSystemLock, bool, PVDefaultsKey::interceptSystemLock,
                        interceptSystemLockChanged)
PANEVEIL_SETTING_SETTER(setDisableHotCorners, m_disableHotCorners, bool, PVDefaultsKey::disableHotCorners,
                        disableHotCornersChanged)
PANEVEIL_SETTING_SETTER(setPlaySounds, m_playSounds, bool, PVDefaultsKey::playSounds, playSoundsChanged)
PANEVEIL_SETTING_SETTER(setLaunchAtLogin, m_launchAtLogin, bool, PVDefaultsKey::launchAtLogin, launchAtLoginChanged)

#undef PANEVEIL_SETTING_SETTER

QByteArray AppSettings::encoded() const
{
    SettingsPayloadValues values;
    values.overlayAlpha = m_overlayAlpha;
    values.autoLockIdleSeconds = m_autoLockIdleSeconds;
    values.preventDisplaySleep = m_preventDisplaySleep;
    values.showStatusHUD = m_showStatusHUD;
    values.interceptSystemLock = m_interceptSystemLock;
    values.disableHotCorners = m_disableHotCorners;
    values.playSounds = m_playSounds;
    values.launchAtLogin = m_launchAtLogin;
    return encodeSettingsPayload(values);
}
