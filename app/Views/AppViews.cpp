#include "AppViews.h"

#include "Constants.h"
#include "HelperService.h"
#include "MenuBarPopoverText.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMetaEnum>
#include <QObject>
#include <QQmlEngine>
#include <QVariant>

#include <mutex>
#include <optional>

// The resources live in a static library, so nothing registers them unless
// asked; Q_INIT_RESOURCE must be used outside any namespace.
static void initViewResources()
{
    Q_INIT_RESOURCE(views);
}

namespace {

constexpr const char moduleName[] = "Paneveil.Views";

// QML hands the registration state over as an int; anything that is not a
// case of the enum reads as `unknown`, the state that promises nothing.
HelperService::State registrationFrom(int value)
{
    const QMetaEnum cases = QMetaEnum::fromType<HelperService::State>();
    return cases.valueToKey(value) ? HelperService::State(value) : HelperService::State::unknown;
}

OptionalDate dateFrom(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    const QDateTime date = value.toDateTime();
    return date.isValid() ? OptionalDate(date) : std::nullopt;
}

std::optional<bool> flagFrom(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    return value.toBool();
}

// What the views show, from the view-text functions: QML passes the models'
// values in (so its bindings follow them) and gets the texts back.
class PopoverTextBridge : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString helperBundleID READ helperBundleID CONSTANT)
    Q_PROPERTY(QString version READ version CONSTANT)
    // The system's fixed-pitch family, for values shown in a monospaced font.
    Q_PROPERTY(QString monospaceFamily READ monospaceFamily CONSTANT)

public:
    using QObject::QObject;

    static QString helperBundleID() { return QString::fromLatin1(PVConstants::helperBundleID); }
    static QString version() { return QString::fromLatin1(PVConstants::version); }
    // A fixed-pitch family that also draws the hotkey glyphs (⌃ and ⌘), so
    // the hotkeys show in one monospaced face: the system's own when it
    // can, else the first installed family that can, else the system's.
    static QString monospaceFamily()
    {
        static const QString family = [] {
            const auto drawsHotkeys = [](const QString &candidate) {
                if (!QFontDatabase::isFixedPitch(candidate))
                    return false;
                const QFontMetrics metrics{QFont(candidate)};
                return metrics.inFontUcs4(0x2303) && metrics.inFontUcs4(0x2318);
            };
            QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            fixed.setStyleHint(QFont::TypeWriter);
            const QString system = QFontInfo(fixed).family();
            if (drawsHotkeys(system))
                return system;
            const QStringList installed = QFontDatabase::families();
            for (const QString &candidate : installed) {
                if (drawsHotkeys(candidate))
                    return candidate;
            }
            return system;
        }();
        return family;
    }

    // Elapsed time is measured against the clock at the time of the call.
    Q_INVOKABLE QString statusLine(int registration, bool helperReachable, bool isLocked,
                                   const QVariant &lockedSince) const
    {
        return MenuBarPopoverText::statusLine(registrationFrom(registration), helperReachable, isLocked,
                                              dateFrom(lockedSince), QDateTime::currentDateTime());
    }
    Q_INVOKABLE bool helperBannerShows(int registration) const
    {
        return MenuBarPopoverText::helperBannerShows(registrationFrom(registration));
    }
    Q_INVOKABLE bool helperBannerIsButton(int registration) const
    {
        return MenuBarPopoverText::helperBannerIsButton(registrationFrom(registration));
    }
    Q_INVOKABLE QString bannerTitle(int registration) const
    {
        return MenuBarPopoverText::bannerTitle(registrationFrom(registration));
    }
    Q_INVOKABLE QString bannerBody(int registration) const
    {
        return MenuBarPopoverText::bannerBody(registrationFrom(registration));
    }
    Q_INVOKABLE bool accessibilityNeedsAttention(int registration, bool helperReachable,
                                                 const QVariant &accessibilityTrusted) const
    {
        return MenuBarPopoverText::accessibilityNeedsAttention(registrationFrom(registration), helperReachable,
                                                               flagFrom(accessibilityTrusted));
    }
    // An absent error is an invalid value (undefined in QML); an empty text
    // is still an error to show.
    Q_INVOKABLE bool hasError(const QVariant &lastError) const
    {
        return lastError.isValid() && !lastError.isNull();
    }
    Q_INVOKABLE QString errorText(const QVariant &lastError) const
    {
        return hasError(lastError) ? lastError.toString() : QString();
    }
    Q_INVOKABLE bool errorShowsAccessibility(const QVariant &lastError) const
    {
        return hasError(lastError) && MenuBarPopoverText::errorBannerRows(lastError.toString()).accessibility;
    }
    Q_INVOKABLE bool errorShowsInputMonitoring(const QVariant &lastError) const
    {
        return hasError(lastError) && MenuBarPopoverText::errorBannerRows(lastError.toString()).inputMonitoring;
    }
    Q_INVOKABLE bool errorShowsRepair(const QVariant &lastError) const
    {
        return hasError(lastError) && MenuBarPopoverText::errorBannerRows(lastError.toString()).repairRegistration;
    }
    Q_INVOKABLE bool lockButtonEnabled(int registration) const
    {
        return MenuBarPopoverText::lockButtonEnabled(registrationFrom(registration));
    }
    Q_INVOKABLE int opacityPercent(double alpha) const { return MenuBarPopoverText::opacityPercent(alpha); }
};

const QString resourceRoot = QStringLiteral("qrc:/paneveil/views/");

} // namespace

void AppViews::registerTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        initViewResources();
        qmlRegisterSingletonType<PopoverTextBridge>(moduleName, 1, 0, "PopoverText",
                                                    [](QQmlEngine *, QJSEngine *) -> QObject * {
                                                        return new PopoverTextBridge;
                                                    });
        qmlRegisterUncreatableMetaObject(HelperService::staticMetaObject, moduleName, 1, 0, "HelperService",
                                         QStringLiteral("HelperService is made by the app, not by a view"));
        qmlRegisterSingletonType(QUrl(resourceRoot + QStringLiteral("Style.qml")), moduleName, 1, 0, "Style");
    });
}

QUrl AppViews::menuBarPopoverUrl()
{
    return QUrl(resourceRoot + QStringLiteral("MenuBarPopover.qml"));
}

QUrl AppViews::settingsViewUrl()
{
    return QUrl(resourceRoot + QStringLiteral("SettingsView.qml"));
}

QString AppViews::trayIconPath(bool locked)
{
    return locked ? QStringLiteral(":/paneveil/views/icons/tray-lock.fill.svg")
                  : QStringLiteral(":/paneveil/views/icons/tray-lock.open.fill.svg");
}

#include "AppViews.moc"
