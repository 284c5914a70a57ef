#include "MenuBarPopoverText.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace MenuBarPopoverText {

using State = HelperService::State;

QString statusLine(State registration, bool helperReachable, bool isLocked, const OptionalDate &lockedSince,
                   const QDateTime &now)
{
    switch (registration) {
    case State::unknown:
        return QStringLiteral("Starting up…");
    case State::notRegistered:
        return QStringLiteral("Helper not installed");
    case State::needsApproval:
        return QStringLiteral("Helper needs approval");
    case State::serviceNotFound:
        return QStringLiteral("Helper service not found");
    case State::enabled:
        break;
    }
    if (!helperReachable)
        return QStringLiteral("Helper starting…");
    if (!isLocked)
        return QStringLiteral("Unlocked  ·  ⌃⌘L to lock");
    if (!lockedSince)
        return QStringLiteral("Locked");
    const qint64 elapsedSeconds = lockedSince->msecsTo(now) / 1000;
    return QStringLiteral("Locked ") + ElapsedTimeFormatter::shared().string(elapsedSeconds);
}

bool helperBannerShows(State registration)
{
    return registration != State::enabled;
}

bool helperBannerIsButton(State registration)
{
    return registration == State::needsApproval;
}

QString bannerTitle(State registration)
{
    switch (registration) {
    case State::notRegistered:
        return QStringLiteral("Background helper not installed");
    case State::needsApproval:
        return QStringLiteral("Approve in System Settings");
    case State::serviceNotFound:
        return QStringLiteral("Background helper not found");
    default:
        return QStringLiteral("Background helper not running");
    }
}

QString bannerBody(State registration)
{
    switch (registration) {
    case State::needsApproval:
        return QStringLiteral("Paneveil needs permission to run its background helper.");
    case State::serviceNotFound:
        return QStringLiteral("macOS cannot find the embedded LaunchAgent in this build. Rebuild, reinstall to "
                              "/Applications, then relaunch.");
    default:
        return QStringLiteral("The app will retry helper registration when it launches.");
    }
}

bool accessibilityNeedsAttention(State registration, bool helperReachable, std::optional<bool> accessibilityTrusted)
{
    return registration == State::enabled && helperReachable && accessibilityTrusted == false;
}

ErrorBannerRows errorBannerRows(const QString &message)
{
    auto mentions = [&message](const char *phrase) {
        return message.contains(QLatin1String(phrase), Qt::CaseInsensitive);
    };
    return {mentions("Accessibility"), mentions("Input Monitoring"), mentions("helper is not reachable")};
}

bool lockButtonEnabled(State registration)
{
    return registration == State::enabled;
}

int opacityPercent(double alpha)
{
    if (std::isnan(alpha))
        return 0;
    const double percent = std::trunc(alpha * 100);
    // Stored settings can hold anything; keep the conversion defined.
    if (percent >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (percent <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(percent);
}

} // namespace MenuBarPopoverText

const ElapsedTimeFormatter &ElapsedTimeFormatter::shared()
{
    static const ElapsedTimeFormatter formatter;
    return formatter;
}

QString ElapsedTimeFormatter::string(qint64 seconds) const
{
    const bool negative = seconds < 0;
    // Magnitude as unsigned so the most negative value has one too.
    const quint64 magnitude = negative ? quint64(0) - quint64(seconds) : quint64(seconds);
    const quint64 hours = magnitude / 3600;
    const quint64 minutes = magnitude % 3600 / 60;
    const quint64 rest = magnitude % 60;

    QStringList parts;
    if (hours)
        parts << QStringLiteral("%1h").arg(hours);
    if (minutes)
        parts << QStringLiteral("%1m").arg(minutes);
    if (rest || parts.isEmpty())
        parts << QStringLiteral("%1s").arg(rest);
    return (negative ? QStringLiteral("-") : QString()) + parts.join(QLatin1Char(' '));
}
