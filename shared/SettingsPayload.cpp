#include "SettingsPayload.h"

#include "Constants.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

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

// libplist 2.2 recurses once per nesting level while parsing binary lists
// and while freeing any tree, and it expands shared references in binary
// lists into copies. A few hundred bytes can therefore exhaust the stack or
// ask for gigabytes. These bounds sit far above any settings payload (depth
// two, seventeen nodes) and are checked before libplist sees the bytes.
constexpr std::size_t maxContainerDepth = 256;
constexpr std::size_t maxBinaryNodes = 1u << 16;

constexpr std::size_t binaryMagicLength = 8; // "bplist00"
constexpr std::size_t binaryTrailerLength = 32;

uint64_t readBigEndian(const unsigned char *bytes, std::size_t width)
{
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Walks the object graph of a binary list the way libplist will expand it,
// without recursion, and refuses graphs that are malformed, too deep or that
// expand into too many nodes.
bool binaryShapeIsSafe(const unsigned char *data, std::size_t size)
{
    if (size < binaryMagicLength + binaryTrailerLength)
        return false;
    const unsigned char *trailer = data + size - binaryTrailerLength;
    const std::size_t offsetWidth = trailer[6];
    const std::size_t refWidth = trailer[7];
    const uint64_t objectCount = readBigEndian(trailer + 8, 8);
    const uint64_t topObject = readBigEndian(trailer + 16, 8);
    const uint64_t offsetTableStart = readBigEndian(trailer + 24, 8);
    const std::size_t objectsEnd = size - binaryTrailerLength;
    if (offsetWidth < 1 || offsetWidth > 8 || refWidth < 1 || refWidth > 8)
        return false;
    if (objectCount == 0 || topObject >= objectCount)
        return false;
    if (offsetTableStart < binaryMagicLength || offsetTableStart > objectsEnd
        || objectCount > (objectsEnd - offsetTableStart) / offsetWidth)
        return false;
    const unsigned char *offsetTable = data + offsetTableStart;

    struct Pending {
        uint64_t object;
        std::size_t depth;
    };
    std::vector<Pending> pending{{topObject, 1}};
    std::size_t nodesSeen = 0;
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        ++nodesSeen;

        const uint64_t offset = readBigEndian(offsetTable + current.object * offsetWidth, offsetWidth);
        if (offset < binaryMagicLength || offset >= offsetTableStart)
            return false;
        const unsigned char marker = data[offset];
        const unsigned kind = marker >> 4;
        const bool isArrayOrSet = kind == 0xA || kind == 0xC;
        const bool isDict = kind == 0xD;
        if (!isArrayOrSet && !isDict)
            continue;

        std::size_t position = offset + 1;
        uint64_t count = marker & 0x0F;
        if (count == 0x0F) {
            // The real count follows as an integer object of 1, 2, 4 or 8 bytes.
            if (position >= offsetTableStart || (data[position] & 0xF0) != 0x10)
                return false;
            const std::size_t width = std::size_t(1) << (data[position] & 0x0F);
            ++position;
            if (width > 8 || width > offsetTableStart - position)
                return false;
            count = readBigEndian(data + position, width);
            position += width;
        }
        const uint64_t refs = isDict ? count * 2 : count;
        if ((isDict && count > std::numeric_limits<uint64_t>::max() / 2)
            || refs > (offsetTableStart - position) / refWidth)
            return false;
        if (refs == 0)
            continue;
        if (current.depth >= maxContainerDepth || refs > maxBinaryNodes - nodesSeen - pending.size())
            return false;
        for (uint64_t i = 0; i < refs; ++i) {
            const uint64_t child = readBigEndian(data + position + i * refWidth, refWidth);
            if (child >= objectCount)
                return false;
            pending.push_back({child, current.depth + 1});
        }
    }
    return true;
}

// libplist's XML reader is not recursive, but freeing the tree is. Every
// array or dict element starts with one of these two strings (libplist
// reads the tag name right after '<'), so their count bounds the depth
// without having to mirror the tokenizer; comments only make it larger.
bool xmlShapeIsSafe(std::string_view text)
{
    std::size_t containers = 0;
    for (const std::string_view opening : {std::string_view("<array"), std::string_view("<dict")}) {
        for (auto at = text.find(opening); at != std::string_view::npos; at = text.find(opening, at + 1)) {
            if (++containers > maxContainerDepth)
                return false;
        }
    }
    return true;
}

// Call only with a size that fits libplist's 32-bit length.
bool shapeIsSafe(const QByteArray &payload)
{
    const auto size = static_cast<std::size_t>(payload.size());
    // Same test plist_from_memory() uses to choose its reader.
    if (plist_is_binary(payload.constData(), static_cast<uint32_t>(size)))
        return binaryShapeIsSafe(reinterpret_cast<const unsigned char *>(payload.constData()), size);
    return xmlShapeIsSafe(std::string_view(payload.constData(), size));
}

// Looks at the key nodes only: libplist 2.2 asserts when it copies out a key
// that holds a NUL byte (possible in binary lists), so the keys are never
// read as strings here.
bool allKeysAreText(plist_t dict)
{
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    if (!iter)
        return false;
    bool allText = true;
    for (;;) {
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, nullptr, &value);
        if (!value)
            break;
        const plist_t key = plist_dict_item_get_key(value);
        if (!key || plist_get_node_type(key) != PLIST_KEY) {
            allText = false;
            break;
        }
    }
    std::free(iter);
    return allText;
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

    if (!shapeIsSafe(payload))
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
