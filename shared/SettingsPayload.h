// The settings payload: a binary property list (bplist00) with eight keys,
// written by the app's settings store and read by the helper.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The eight values the app sends, in payload order.
struct SettingsPayloadValues {
    double overlayAlpha = 0.05;
    qint64 autoLockIdleSeconds = 0;
    bool preventDisplaySleep = true;
    bool showStatusHUD = false;
    bool interceptSystemLock = false;
    bool disableHotCorners = false;
    bool playSounds = false;
    bool launchAtLogin = false;
};

// Serialises the eight entries as a binary property list. Never fails
// outwardly: an empty buffer stands for a serialisation failure.
QByteArray encodeSettingsPayload(const SettingsPayloadValues &values);

// The three settings the helper acts on.
struct RuntimeSettings {
    static constexpr double defaultOverlayAlpha = 0.05;
    static constexpr double minOverlayAlpha = 0.0;
    static constexpr double maxOverlayAlpha = 0.3;

    double overlayAlpha = defaultOverlayAlpha;
    bool preventDisplaySleep = true;
    bool playSounds = false;

    // Reads a binary or XML property list. Missing or mistyped keys take
    // their defaults; an unparsable buffer or a top level that is not a
    // text-keyed dictionary is rejected (nullopt).
    static std::optional<RuntimeSettings> fromPayload(const QByteArray &payload);

    friend bool operator==(const RuntimeSettings &, const RuntimeSettings &) = default;
};
