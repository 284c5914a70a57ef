// Reading and writing the settings payload the app sends to the helper.
#include "Constants.h"
#include "SettingsPayload.h"

#include <QTest>

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

enum class Format { Binary, Xml };

QByteArray serialise(plist_t root, Format format)
{
    char *bytes = nullptr;
    uint32_t length = 0;
    if (format == Format::Binary)
        plist_to_bin(root, &bytes, &length);
    else
        plist_to_xml(root, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    return result;
}

plist_t signedInteger(qint64 value)
{
    // libplist 2.2 keeps the bits and writes them as a signed 8-byte integer.
    return plist_new_uint(static_cast<uint64_t>(value));
}

// Builds a dictionary by calling fill, then serialises it.
QByteArray dictPayload(const std::function<void(plist_t)> &fill, Format format = Format::Binary)
{
    const Plist dict(plist_new_dict());
    fill(dict.get());
    return serialise(dict.get(), format);
}

void set(plist_t dict, const char *key, plist_t value)
{
    plist_dict_set_item(dict, key, value);
}

QByteArray allEightKeys(Format format)
{
    return dictPayload([](plist_t d) {
        set(d, PVDefaultsKey::overlayAlpha, plist_new_real(0.2));
        set(d, PVDefaultsKey::autoLockIdleSeconds, signedInteger(300));
        set(d, PVDefaultsKey::preventDisplaySleep, plist_new_bool(false));
        set(d, PVDefaultsKey::showStatusHUD, plist_new_bool(true));
        set(d, PVDefaultsKey::interceptSystemLock, plist_new_bool(true));
        set(d, PVDefaultsKey::disableHotCorners, plist_new_bool(true));
        set(d, PVDefaultsKey::playSounds, plist_new_bool(true));
        set(d, PVDefaultsKey::launchAtLogin, plist_new_bool(true));
    }, format);
}

QByteArray withValue(const char *key, plist_t value)
{
    return dictPayload([&](plist_t d) { set(d, key, value); });
}

// Binary lists written byte by byte, for shapes libplist will not write:
// "bplist00", the objects, a table of 4-byte offsets and the 32-byte trailer
// (4-byte offsets and references, object 0 on top).
QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[3 - i] = char(value >> (8 * i));
    return bytes;
}

QByteArray handWrittenBinary(const QList<QByteArray> &objects)
{
    QByteArray bytes("bplist00");
    QByteArray offsetTable;
    for (const QByteArray &object : objects) {
        offsetTable += bigEndian32(quint32(bytes.size()));
        bytes += object;
    }
    const auto tableStart = quint32(bytes.size());
    bytes += offsetTable;
    QByteArray trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = 4;
    trailer.replace(12, 4, bigEndian32(quint32(objects.size())));
    trailer.replace(28, 4, bigEndian32(tableStart));
    return bytes + trailer;
}

QByteArray dictObject(const QList<quint32> &keys, const QList<quint32> &values)
{
    QByteArray object(1, char(0xD0 | keys.size()));
    for (quint32 ref : keys + values)
        object += bigEndian32(ref);
    return object;
}

QByteArray arrayObject(const QList<quint32> &items)
{
    QByteArray object(1, char(0xA0 | items.size()));
    for (quint32 ref : items)
        object += bigEndian32(ref);
    return object;
}

QByteArray asciiObject(const QByteArray &text)
{
    return char(0x50 | text.size()) + text;
}

const QByteArray trueObject = QByteArray(1, char(0x09));

// { playSounds: true, deep: [[[ ... true ... ]]] } with `depth` arrays.
QByteArray nestedBinaryArrays(quint32 depth)
{
    QList<QByteArray> objects{dictObject({1, 2}, {3, 4}), asciiObject(PVDefaultsKey::playSounds),
                              asciiObject("deep"), trueObject};
    for (quint32 i = 0; i < depth; ++i)
        objects += arrayObject({4 + i + 1});
    objects += trueObject;
    return handWrittenBinary(objects);
}

// { playSounds: true, shared: A0 } where each Ai holds A(i+1) twice: a few
// hundred bytes that libplist expands into 2^(levels+1) nodes.
QByteArray sharedBinaryReferences(quint32 levels)
{
    QList<QByteArray> objects{dictObject({1, 2}, {3, 4}), asciiObject(PVDefaultsKey::playSounds),
                              asciiObject("shared"), trueObject};
    for (quint32 i = 0; i < levels; ++i)
        objects += arrayObject({4 + i + 1, 4 + i + 1});
    objects += trueObject;
    return handWrittenBinary(objects);
}

// { playSounds: true, deep: <depth nested arrays> } as XML.
QByteArray nestedXmlArrays(int depth, bool closed = true)
{
    QByteArray xml("<plist><dict><key>playSounds</key><true/><key>deep</key>");
    xml += QByteArray("<array>").repeated(depth);
    if (closed)
        xml += QByteArray("</array>").repeated(depth) + "</dict></plist>";
    return xml;
}

plist_t parseBack(const QByteArray &bytes)
{
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
    return root;
}

} // namespace

class TestSettingsPayload : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsAcceptedPayloads_data();
    void readsAcceptedPayloads();
    void rejectsUnusablePayloads_data();
    void rejectsUnusablePayloads();
    void writerProducesTheEightTypedEntries();
    void writerOutputReadsBack_data();
    void writerOutputReadsBack();
};

void TestSettingsPayload::readsAcceptedPayloads_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<double>("overlayAlpha");
    QTest::addColumn<bool>("preventDisplaySleep");
    QTest::addColumn<bool>("playSounds");

    using K = const char *;
    const K alpha = PVDefaultsKey::overlayAlpha;
    const K prevent = PVDefaultsKey::preventDisplaySleep;
    const K sounds = PVDefaultsKey::playSounds;

    QTest::newRow("all eight keys") << allEightKeys(Format::Binary) << 0.2 << false << true;
    QTest::newRow("all eight keys as XML") << allEightKeys(Format::Xml) << 0.2 << false << true;

    QTest::newRow("alpha above range") << withValue(alpha, plist_new_real(0.5)) << 0.3 << true << false;
    QTest::newRow("alpha below range") << withValue(alpha, plist_new_real(-1.0)) << 0.0 << true << false;
    QTest::newRow("alpha +infinity") << withValue(alpha, plist_new_real(std::numeric_limits<double>::infinity()))
                                     << 0.3 << true << false;
    QTest::newRow("alpha integer 0") << withValue(alpha, signedInteger(0)) << 0.0 << true << false;
    QTest::newRow("alpha integer 1") << withValue(alpha, signedInteger(1)) << 0.3 << true << false;
    QTest::newRow("alpha negative integer") << withValue(alpha, signedInteger(-7)) << 0.0 << true << false;
    // 2^53 + 1 has no exact double, so it counts as a mistyped value.
    QTest::newRow("alpha inexact integer") << withValue(alpha, signedInteger((qint64(1) << 53) + 1))
                                           << 0.05 << true << false;
    QTest::newRow("alpha as text") << withValue(alpha, plist_new_string("0.2")) << 0.05 << true << false;
    QTest::newRow("alpha as boolean") << withValue(alpha, plist_new_bool(true)) << 0.05 << true << false;
    QTest::newRow("alpha NaN") << withValue(alpha, plist_new_real(std::nan(""))) << 0.05 << true << false;

    QTest::newRow("empty dictionary") << dictPayload([](plist_t) {}) << 0.05 << true << false;
    QTest::newRow("only playSounds") << withValue(sounds, plist_new_bool(true)) << 0.05 << true << true;
    QTest::newRow("preventDisplaySleep as text") << withValue(prevent, plist_new_string("false"))
                                                 << 0.05 << true << false;
    QTest::newRow("playSounds as text") << withValue(sounds, plist_new_string("true")) << 0.05 << true << false;

    QTest::newRow("flags as integers 0/1") << dictPayload([&](plist_t d) {
        set(d, prevent, signedInteger(0));
        set(d, sounds, signedInteger(1));
    }) << 0.05 << false << true;
    QTest::newRow("flags as integer 2") << dictPayload([&](plist_t d) {
        set(d, prevent, signedInteger(2));
        set(d, sounds, signedInteger(2));
    }) << 0.05 << true << false;
    QTest::newRow("flags as integer -1") << dictPayload([&](plist_t d) {
        set(d, prevent, signedInteger(-1));
        set(d, sounds, signedInteger(-1));
    }) << 0.05 << true << false;

    QTest::newRow("other keys ignored") << dictPayload([&](plist_t d) {
        set(d, PVDefaultsKey::autoLockIdleSeconds, signedInteger(300));
        set(d, PVDefaultsKey::lockHotkey, plist_new_string("ctrl+alt+l"));
        set(d, "somethingNew", plist_new_array());
        set(d, "overlayalpha", plist_new_real(0.25));
    }) << 0.05 << true << false;

    QTest::newRow("XML integers, negative alpha") << QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>overlayAlpha</key><integer>-3</integer>"
        "<key>preventDisplaySleep</key><integer>0</integer>"
        "<key>playSounds</key><integer>1</integer></dict></plist>") << 0.0 << false << true;
    // Above INT64_MAX libplist keeps the value unsigned; it must not wrap to a
    // negative number and clamp to 0.
    QTest::newRow("XML unsigned integer alpha") << QByteArray(
        "<plist><dict><key>overlayAlpha</key><integer>18446744073709551615</integer></dict></plist>")
                                                << 0.05 << true << false;
    QTest::newRow("XML unsigned 2^63 alpha") << QByteArray(
        "<plist><dict><key>overlayAlpha</key><integer>9223372036854775808</integer></dict></plist>")
                                             << 0.3 << true << false;

    // Hand-written lists whose only oddity is their shape, below the
    // reader's bounds; the rejection table holds the same shapes above them.
    QTest::newRow("hand-written text key") << handWrittenBinary({dictObject({1}, {2}),
                                                                 asciiObject(PVDefaultsKey::playSounds), trueObject})
                                           << 0.05 << true << true;
    // A UTF-16 key "a\0" (marker 0x62, two code units). libplist 2.2 asserts
    // when such a key is copied out, so the reader must not do that.
    QTest::newRow("binary UTF-16 key with a NUL")
        << handWrittenBinary({dictObject({1, 2}, {3, 3}), QByteArray::fromHex("6200610000"),
                              asciiObject(PVDefaultsKey::playSounds), trueObject})
        << 0.05 << true << true;
    QTest::newRow("binary nested 100 deep") << nestedBinaryArrays(100) << 0.05 << true << true;
    QTest::newRow("binary shared references, 2^11 nodes") << sharedBinaryReferences(10) << 0.05 << true << true;
    QTest::newRow("XML nested 100 deep") << nestedXmlArrays(100) << 0.05 << true << true;
}

void TestSettingsPayload::readsAcceptedPayloads()
{
    QFETCH(QByteArray, payload);
    QFETCH(double, overlayAlpha);
    QFETCH(bool, preventDisplaySleep);
    QFETCH(bool, playSounds);

    QVERIFY(!payload.isEmpty());
    const auto settings = RuntimeSettings::fromPayload(payload);
    QVERIFY(settings.has_value());
    QVERIFY(!std::isnan(settings->overlayAlpha));
    QCOMPARE(settings->overlayAlpha, overlayAlpha);
    QCOMPARE(settings->preventDisplaySleep, preventDisplaySleep);
    QCOMPARE(settings->playSounds, playSounds);
}

void TestSettingsPayload::rejectsUnusablePayloads_data()
{
    QTest::addColumn<QByteArray>("payload");

    {
        const Plist array(plist_new_array());
        plist_array_append_item(array.get(), plist_new_bool(true));
        QTest::newRow("top-level array") << serialise(array.get(), Format::Binary);
        QTest::newRow("top-level array, XML") << serialise(array.get(), Format::Xml);
    }
    {
        const Plist text(plist_new_string("overlayAlpha"));
        QTest::newRow("top-level string") << serialise(text.get(), Format::Binary);
    }
    QTest::newRow("empty buffer") << QByteArray();
    QTest::newRow("random bytes") << QByteArray::fromHex("9f3a00c7e1554b02d8aa7710fe");
    QTest::newRow("magic only") << QByteArray("bplist00");
    QTest::newRow("truncated bplist") << allEightKeys(Format::Binary).chopped(10);
    QTest::newRow("truncated XML") << allEightKeys(Format::Xml).chopped(20);
    QTest::newRow("OpenStep text") << QByteArray("{ overlayAlpha = 0.2; playSounds = 1; }");
    QTest::newRow("XML dict with a string for a key") << QByteArray(
        "<plist><dict><string>playSounds</string><true/></dict></plist>");

    // A binary dictionary may reference any object as a key; here the
    // integer 1. libplist refuses it while parsing.
    QTest::newRow("binary dict with an integer key")
        << handWrittenBinary({dictObject({1}, {2}), QByteArray::fromHex("1001"), trueObject});
    QTest::newRow("binary reference past the objects")
        << handWrittenBinary({dictObject({1}, {7}), asciiObject(PVDefaultsKey::playSounds), trueObject});
    QTest::newRow("binary reference cycle")
        << handWrittenBinary({dictObject({1}, {2}), asciiObject("loop"), arrayObject({2})});

    // Would overflow the stack in libplist's recursive reader and free.
    QTest::newRow("binary nested 300000 deep") << nestedBinaryArrays(300000);
    QTest::newRow("XML nested 300000 deep") << nestedXmlArrays(300000);
    QTest::newRow("XML nested 300000 deep, unclosed") << nestedXmlArrays(300000, false);
    // Just over the bound of 256 nested containers.
    QTest::newRow("binary nested 300 deep") << nestedBinaryArrays(300);
    QTest::newRow("XML nested 300 deep") << nestedXmlArrays(300);
    // 2^18 nodes from under 200 bytes; kept small so that a missing guard
    // shows as a wrong answer, not as a machine out of memory.
    QTest::newRow("binary shared references, 2^18 nodes") << sharedBinaryReferences(17);
}

void TestSettingsPayload::rejectsUnusablePayloads()
{
    QFETCH(QByteArray, payload);
    QCOMPARE(RuntimeSettings::fromPayload(payload), std::nullopt);
}

void TestSettingsPayload::writerProducesTheEightTypedEntries()
{
    SettingsPayloadValues values;
    values.overlayAlpha = 0.125;
    values.autoLockIdleSeconds = -42;
    values.preventDisplaySleep = false;
    values.showStatusHUD = true;
    values.interceptSystemLock = false;
    values.disableHotCorners = true;
    values.playSounds = true;
    values.launchAtLogin = false;

    const QByteArray encoded = encodeSettingsPayload(values);
    QVERIFY(encoded.startsWith("bplist00"));

    const Plist root(parseBack(encoded));
    QVERIFY(root);
    QCOMPARE(plist_get_node_type(root.get()), PLIST_DICT);
    QCOMPARE(plist_dict_get_size(root.get()), 8u);
    QVERIFY(!plist_dict_get_item(root.get(), PVDefaultsKey::lockHotkey));
    QVERIFY(!plist_dict_get_item(root.get(), PVDefaultsKey::unlockHotkey));

    plist_t alpha = plist_dict_get_item(root.get(), PVDefaultsKey::overlayAlpha);
    QVERIFY(alpha);
    QCOMPARE(plist_get_node_type(alpha), PLIST_REAL);
    double alphaValue = 0;
    plist_get_real_val(alpha, &alphaValue);
    QCOMPARE(alphaValue, 0.125);

    // Read back as a signed 8-byte integer: equal to a fresh node of -42.
    plist_t idle = plist_dict_get_item(root.get(), PVDefaultsKey::autoLockIdleSeconds);
    QVERIFY(idle);
    QCOMPARE(plist_get_node_type(idle), PLIST_UINT);
    const Plist minus42(signedInteger(-42));
    QVERIFY(plist_compare_node_value(idle, minus42.get()));
    char *xml = nullptr;
    uint32_t xmlLength = 0;
    plist_to_xml(root.get(), &xml, &xmlLength);
    const QByteArray xmlText(xml, qsizetype(xmlLength));
    std::free(xml);
    QVERIFY2(xmlText.contains("<integer>-42</integer>"), xmlText.constData());

    const struct {
        const char *key;
        bool expected;
    } flags[] = {
        {PVDefaultsKey::preventDisplaySleep, false}, {PVDefaultsKey::showStatusHUD, true},
        {PVDefaultsKey::interceptSystemLock, false}, {PVDefaultsKey::disableHotCorners, true},
        {PVDefaultsKey::playSounds, true},           {PVDefaultsKey::launchAtLogin, false},
    };
    for (const auto &flag : flags) {
        plist_t node = plist_dict_get_item(root.get(), flag.key);
        QVERIFY2(node, flag.key);
        QCOMPARE(plist_get_node_type(node), PLIST_BOOLEAN);
        uint8_t value = 2;
        plist_get_bool_val(node, &value);
        QCOMPARE(value != 0, flag.expected);
    }

    // Entries appear in the documented order.
    const char *const order[] = {
        PVDefaultsKey::overlayAlpha,        PVDefaultsKey::autoLockIdleSeconds, PVDefaultsKey::preventDisplaySleep,
        PVDefaultsKey::showStatusHUD,       PVDefaultsKey::interceptSystemLock, PVDefaultsKey::disableHotCorners,
        PVDefaultsKey::playSounds,          PVDefaultsKey::launchAtLogin,
    };
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(root.get(), &iter);
    QVERIFY(iter);
    for (const char *expectedKey : order) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), iter, &key, &value);
        const QByteArray actual(key ? key : "");
        std::free(key);
        QCOMPARE(actual, QByteArray(expectedKey));
    }
    std::free(iter);
}

void TestSettingsPayload::writerOutputReadsBack_data()
{
    QTest::addColumn<double>("overlayAlpha");
    QTest::addColumn<qint64>("idleSeconds");
    QTest::addColumn<bool>("preventDisplaySleep");
    QTest::addColumn<bool>("playSounds");
    QTest::addColumn<double>("expectedAlpha");

    QTest::newRow("defaults") << 0.05 << qint64(0) << true << false << 0.05;
    QTest::newRow("in range, flags flipped") << 0.25 << qint64(600) << false << true << 0.25;
    QTest::newRow("edges") << 0.3 << std::numeric_limits<qint64>::max() << true << true << 0.3;
    QTest::newRow("out of range, negative idle") << 0.9 << qint64(-1) << false << false << 0.3;
    QTest::newRow("zero alpha, minimum idle") << 0.0 << std::numeric_limits<qint64>::min() << true << true << 0.0;
}

void TestSettingsPayload::writerOutputReadsBack()
{
    QFETCH(double, overlayAlpha);
    QFETCH(qint64, idleSeconds);
    QFETCH(bool, preventDisplaySleep);
    QFETCH(bool, playSounds);
    QFETCH(double, expectedAlpha);

    SettingsPayloadValues values;
    values.overlayAlpha = overlayAlpha;
    values.autoLockIdleSeconds = idleSeconds;
    values.preventDisplaySleep = preventDisplaySleep;
    values.playSounds = playSounds;
    values.showStatusHUD = true;

    const QByteArray encoded = encodeSettingsPayload(values);
    const auto settings = RuntimeSettings::fromPayload(encoded);
    QVERIFY(settings.has_value());
    QCOMPARE(settings->overlayAlpha, expectedAlpha);
    QCOMPARE(settings->preventDisplaySleep, preventDisplaySleep);
    QCOMPARE(settings->playSounds, playSounds);

    // The idle time survives with its sign.
    const Plist root(parseBack(encoded));
    QVERIFY(root);
    const Plist expectedIdle(signedInteger(idleSeconds));
    QVERIFY(plist_compare_node_value(plist_dict_get_item(root.get(), PVDefaultsKey::autoLockIdleSeconds),
                                     expectedIdle.get()));
}

QTEST_GUILESS_MAIN(TestSettingsPayload)
#include "tst_settingspayload.moc"
