// What the popover says, computed from the three shared objects' values:
// the status line, the banners' texts and which of them show, which repair
// buttons an error message calls for, and the opacity percentage. Plain
// functions of their inputs so the views stay declarative and every row of
// their tables is testable without drawing anything.
#pragma once

#include "HelperService.h"
#include "XPCProtocol.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace MenuBarPopoverText {

// The line under the product name.
QString statusLine(HelperService::State registration, bool helperReachable, bool isLocked,
                   const OptionalDate &lockedSince, const QDateTime &now);

// The registration banner shows in every state but `enabled`; only the
// approval banner is a button, and only it carries the chevron.
bool helperBannerShows(HelperService::State registration);
bool helperBannerIsButton(HelperService::State registration);
QString bannerTitle(HelperService::State registration);
QString bannerBody(HelperService::State registration);

// The Accessibility banner: registered, answering, and known not trusted.
bool accessibilityNeedsAttention(HelperService::State registration, bool helperReachable,
                                 std::optional<bool> accessibilityTrusted);

// The repair rows an error message calls for, by the phrases it contains in
// any letter case.
struct ErrorBannerRows {
    bool accessibility = false;
    bool inputMonitoring = false;
    bool repairRegistration = false;
};
ErrorBannerRows errorBannerRows(const QString &message);

// The lock button works only once the helper is registered.
bool lockButtonEnabled(HelperService::State registration);

// alpha × 100, truncated toward zero; 0 for a value that is not a number.
int opacityPercent(double alpha);

} // namespace MenuBarPopoverText

// Elapsed time with abbreviated hour, minute and second units, largest
// first, zero units left out: "1h 2m 5s", "2m", "0s". Made once, kept for the
// whole run.
class ElapsedTimeFormatter {
public:
    static const ElapsedTimeFormatter &shared();
    QString string(qint64 seconds) const;

private:
    ElapsedTimeFormatter() = default;
};
