#include "SettingsPayload.h"

#include "Constants.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <type_traits>

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

// libplist 2.2 keeps every integer as PLIST_UINT. A node read from an 8-byte
// binary integer or a signed XML integer holds a two's-complement signed
// value; only 16-byte binary integers (and XML values above INT64_MAX) are
// really unsigned. The flag that tells them apart is internal, but node
// comparison honours it: a node equal to a fresh plist_new_uint() of the
// same bits is a signed 64-bit value.
bool integerIsSigned(plist_t node, uint64_t bits)
{
    const PlistPtr probe(plist_new_uint(bits));
    return probe && plist_compare_node_value(node, probe.get());
}

struct IntegerValue {
    uint64_t bits = 0;
    bool isSigned = true;

    bool equals(int64_t value) const
    {
        if (isSigned)
            return static_cast<int64_t>(bits) == value;
        return value >= 0 && bits == static_cast<uint64_t>(value);
    }
};

std::optional<IntegerValue> integerValue(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_UINT)
        return std::nullopt;
    IntegerValue value;
    plist_get_uint_val(node, &value.bits);
    value.isSigned = integerIsSigned(node, value.bits);
    return value;
}

// An integer counts as a number only when the double holds it exactly.
std::optional<double> exactDouble(const IntegerValue &value)
{
    // 2^63 and 2^64 are exact doubles; comparing against them avoids the
    // undefined cast of an out-of-range double back to an integer.
    constexpr double twoTo63 = 9223372036854775808.0;
    constexpr double twoTo64 = 18446744073709551616.0;
    if (value.isSigned) {
        const auto signedValue = static_cast<int64_t>(value.bits);
        const double asDouble = static_cast<double>(signedValue);
        if (asDouble >= twoTo63 || static_cast<int64_t>(asDouble) != signedValue)
            return std::nullopt;
        return asDouble;
    }
    const double asDouble = static_cast<double>(value.bits);
    if (asDouble >= twoTo64 || static_cast<uint64_t>(asDouble) != value.bits)
        return std::nullopt;
    return asDouble;
}

std::optional<double> numberValue(plist_t node)
{
    if (!node)
        return std::nullopt;
    if (plist_get_node_type(node) == PLIST_REAL) {
        double value = 0.0;
        plist_get_real_val(node, &value);
        // NaN would survive clamping and reach the overlay; treat it as a
        // value of the wrong type.
        if (std::isnan(value))
            return std::nullopt;
        return value;
    }
    if (const auto integer = integerValue(node))
        return exactDouble(*integer);
    return std::nullopt;
}

// A boolean, or the integers 0 and 1 as written by older property list tools.
std::optional<bool> flagValue(plist_t node)
{
    if (!node)
        return std::nullopt;
    if (plist_get_node_type(node) == PLIST_BOOLEAN) {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    if (const auto integer = integerValue(node)) {
        if (integer->equals(0))
            return false;
        if (integer->equals(1))
            return true;
    }
    return std::nullopt;
}

bool allKeysAreText(plist_t dict)
{
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    if (!iter)
        return false;
    bool ok = true;
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &key, &value);
        if (!value) {
            std::free(key);
            break;
        }
        if (!key)
            ok = false;
        std::free(key);
        if (!ok)
            break;
    }
    std::free(iter);
    return ok;
}

} // namespace

QByteArray encodeSettingsPayload(const SettingsPayloadValues &values)
{
    const PlistPtr dict(plist_new_dict());
    if (!dict)
        return {};
    plist_dict_set_item(dict.get(), PVDefaultsKey::overlayAlpha, plist_new_real(values.overlayAlpha));
    // The cast keeps the bits; libplist writes them as a signed 8-byte
    // integer, so negative values read back as negative.
    plist_dict_set_item(dict.get(), PVDefaultsKey::autoLockIdleSeconds,
                        plist_new_uint(static_cast<uint64_t>(values.autoLockIdleSeconds)));
    plist_dict_set_item(dict.get(), PVDefaultsKey::preventDisplaySleep, plist_new_bool(values.preventDisplaySleep));
    plist_dict_set_item(dict.get(), PVDefaultsKey::showStatusHUD, plist_new_bool(values.showStatusHUD));
    plist_dict_set_item(dict.get(), PVDefaultsKey::interceptSystemLock, plist_new_bool(values.interceptSystemLock));
    plist_dict_set_item(dict.get(), PVDefaultsKey::disableHotCorners, plist_new_bool(values.disableHotCorners));
    plist_dict_set_item(dict.get(), PVDefaultsKey::playSounds, plist_new_bool(values.playSounds));
    plist_dict_set_item(dict.get(), PVDefaultsKey::launchAtLogin, plist_new_bool(values.launchAtLogin));
    if (plist_dict_get_size(dict.get()) != 8)
        return {};

    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict.get(), &bytes, &length);
    if (!bytes)
        return {};
    QByteArray encoded;
    if (length > 0 && length <= static_cast<uint32_t>(std::numeric_limits<int>::max()))
        encoded = QByteArray(bytes, static_cast<qsizetype>(length));
    plist_to_bin_free(bytes);
    return encoded;
}

std::optional<RuntimeSettings> RuntimeSettings::fromPayload(const QByteArray &payload)
{
    // libplist takes a 32-bit length; a longer buffer would be read truncated.
    if (payload.isEmpty() || static_cast<quint64>(payload.size()) > std::numeric_limits<uint32_t>::max())
        return std::nullopt;

    plist_t parsed = nullptr;
    plist_from_memory(payload.constData(), static_cast<uint32_t>(payload.size()), &parsed);
    const PlistPtr root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT || !allKeysAreText(root.get()))
        return std::nullopt;

    RuntimeSettings settings;
    if (const auto alpha = numberValue(plist_dict_get_item(root.get(), PVDefaultsKey::overlayAlpha)))
        settings.overlayAlpha = *alpha;
    settings.overlayAlpha = std::clamp(settings.overlayAlpha, minOverlayAlpha, maxOverlayAlpha);
    if (const auto flag = flagValue(plist_dict_get_item(root.get(), PVDefaultsKey::preventDisplaySleep)))
        settings.preventDisplaySleep = *flag;
    if (const auto flag = flagValue(plist_dict_get_item(root.get(), PVDefaultsKey::playSounds)))
        settings.playSounds = *flag;
    return settings;
}
