// Feeds arbitrary bytes to the helper's settings payload reader.
#include "SettingsPayload.h"

#include <QByteArray>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const RuntimeSettings &settings)
{
    std::fprintf(stderr, "settings payload invariant broken: %s (overlayAlpha=%g preventDisplaySleep=%d playSounds=%d)\n",
                 what, settings.overlayAlpha, int(settings.preventDisplaySleep), int(settings.playSounds));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray payload = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<RuntimeSettings> settings = RuntimeSettings::fromPayload(payload);
    if (!settings)
        return 0;

    // The overlay must never get a value outside its range, NaN included.
    const double alpha = settings->overlayAlpha;
    if (std::isnan(alpha) || alpha < RuntimeSettings::minOverlayAlpha || alpha > RuntimeSettings::maxOverlayAlpha)
        fail("overlayAlpha out of range", *settings);

    // Whatever was accepted, the app's writer can say again and the reader
    // reads it back unchanged.
    SettingsPayloadValues values;
    values.overlayAlpha = alpha;
    values.preventDisplaySleep = settings->preventDisplaySleep;
    values.playSounds = settings->playSounds;
    const std::optional<RuntimeSettings> reread = RuntimeSettings::fromPayload(encodeSettingsPayload(values));
    if (!reread || !(*reread == *settings))
        fail("writer output does not read back the same", *settings);
    return 0;
}
