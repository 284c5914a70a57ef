// The settings store on a temporary XDG_CONFIG_HOME: defaults, typed reads of
// values of other types, write-through, signals, and the payload.

#include "AppSettings.h"
#include "Constants.h"

#include <QFile>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <plist/plist.h>

namespace {

const char *const settingNames[] = {
    PVDefaultsKey::overlayAlpha,      PVDefaultsKey::autoLockIdleSeconds, PVDefaultsKey::preventDisplaySleep,
    PVDefaultsKey::showStatusHUD,     PVDefaultsKey::interceptSystemLock, PVDefaultsKey::disableHotCorners,
    PVDefaultsKey::playSounds,        PVDefaultsKey::launchAtLogin,
};

QMetaProperty settingProperty(const AppSettings &settings, const char *name)
{
    return settings.metaObject()->property(settings.metaObject()->indexOfProperty(name));
}

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};

// Key and value of every entry of a binary property-list dictionary.
std::optional<QVariantMap> decodeDictionary(const QByteArray &payload)
{
    plist_t root = nullptr;
    plist_from_bin(payload.constData(), uint32_t(payload.size()), &root);
    const std::unique_ptr<void, PlistFree> owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return std::nullopt;
    QVariantMap entries;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root, &it);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, it, &key, &value);
        if (!key)
            break;
        QVariant decoded;
        switch (plist_get_node_type(value)) {
        case PLIST_BOOLEAN: {
            uint8_t flag = 0;
            plist_get_bool_val(value, &flag);
            decoded = bool(flag);
            break;
        }
        case PLIST_REAL: {
            double number = 0;
            plist_get_real_val(value, &number);
            decoded = number;
            break;
        }
        case PLIST_UINT: {
            uint64_t number = 0;
            plist_get_uint_val(value, &number);
            decoded = qint64(number);
            break;
        }
        default:
            decoded = QStringLiteral("unexpected type");
        }
        entries.insert(QString::fromUtf8(key), decoded);
        free(key);
    }
    free(it);
    return entries;
}

} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir configHome;

    QString storePath() const { return configHome.filePath(QStringLiteral("zelquor/Paneveil.conf")); }

    QByteArray storeText() const
    {
        QFile file(storePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(configHome.isValid());
        // Before any QSettings exists: it reads the folder once per process.
        qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    }

    void init()
    {
        std::unique_ptr<QSettings> store = AppSettings::standardStore();
        store->clear();
        store->sync();
        QFile::remove(storePath());
    }

    void theUsersStoreIsTheNativeFileOfZelquorPaneveil()
    {
        QCOMPARE(AppSettings::standardStore()->fileName(), storePath());
    }

    void emptyStoreLoadsTheDefaultsAndWritesNothing()
    {
        const AppSettings settings;
        QCOMPARE(settings.overlayAlpha(), 0.05);
        QCOMPARE(settings.autoLockIdleSeconds(), 0);
        QCOMPARE(settings.preventDisplaySleep(), true);
        QCOMPARE(settings.showStatusHUD(), true);
        QCOMPARE(settings.interceptSystemLock(), true);
        QCOMPARE(settings.disableHotCorners(), true);
        QCOMPARE(settings.playSounds(), false);
        QCOMPARE(settings.launchAtLogin(), false);
        QVERIFY(AppSettings::standardStore()->allKeys().isEmpty());
        QVERIFY(!QFile::exists(storePath()));
    }

    void aStoredValueIsUsedWhateverItsType_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("loaded");
        const auto key = [](const char *name) { return QString::fromLatin1(name); };
        QTest::newRow("false over a true default") << key(PVDefaultsKey::preventDisplaySleep) << QVariant(false) << QVariant(false);
        QTest::newRow("zero seconds") << key(PVDefaultsKey::autoLockIdleSeconds) << QVariant(0) << QVariant(qint64(0));
        QTest::newRow("seconds") << key(PVDefaultsKey::autoLockIdleSeconds) << QVariant(300) << QVariant(qint64(300));
        QTest::newRow("seconds as text with a fraction") << key(PVDefaultsKey::autoLockIdleSeconds) << QVariant(QStringLiteral("3.7")) << QVariant(qint64(3));
        QTest::newRow("seconds as a word") << key(PVDefaultsKey::autoLockIdleSeconds) << QVariant(QStringLiteral("soon")) << QVariant(qint64(0));
        QTest::newRow("seconds beyond 64 bits") << key(PVDefaultsKey::autoLockIdleSeconds) << QVariant(QStringLiteral("1e30")) << QVariant(qint64(0));
        QTest::newRow("opacity") << key(PVDefaultsKey::overlayAlpha) << QVariant(0.2) << QVariant(0.2);
        QTest::newRow("opacity unbounded") << key(PVDefaultsKey::overlayAlpha) << QVariant(0.8) << QVariant(0.8);
        QTest::newRow("opacity as a word") << key(PVDefaultsKey::overlayAlpha) << QVariant(QStringLiteral("dim")) << QVariant(0.0);
        QTest::newRow("opacity as true") << key(PVDefaultsKey::overlayAlpha) << QVariant(true) << QVariant(1.0);
        QTest::newRow("flag as 0 over a true default") << key(PVDefaultsKey::showStatusHUD) << QVariant(0) << QVariant(false);
        QTest::newRow("flag as no") << key(PVDefaultsKey::interceptSystemLock) << QVariant(QStringLiteral("no")) << QVariant(false);
        QTest::newRow("flag as an unknown word") << key(PVDefaultsKey::disableHotCorners) << QVariant(QStringLiteral("banana")) << QVariant(false);
        QTest::newRow("flag as a list") << key(PVDefaultsKey::showStatusHUD) << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}) << QVariant(false);
        QTest::newRow("flag as yes") << key(PVDefaultsKey::playSounds) << QVariant(QStringLiteral("YES")) << QVariant(true);
        QTest::newRow("flag as a number") << key(PVDefaultsKey::launchAtLogin) << QVariant(2.5) << QVariant(true);
    }

    void aStoredValueIsUsedWhateverItsType()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, loaded);
        {
            std::unique_ptr<QSettings> store = AppSettings::standardStore();
            store->setValue(key, stored);
            store->sync();
        }
        const AppSettings settings;
        const QVariant value = settingProperty(settings, key.toLatin1().constData()).read(&settings);
        QCOMPARE(value, loaded);
    }

    void everyAssignmentWritesAndSignalsOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("opacity unchanged") << QStringLiteral("overlayAlpha") << QVariant(0.05) << QByteArray("overlayAlpha=0.05");
        QTest::newRow("opacity beyond the slider") << QStringLiteral("overlayAlpha") << QVariant(0.8) << QByteArray("overlayAlpha=0.8");
        QTest::newRow("seconds") << QStringLiteral("autoLockIdleSeconds") << QVariant(qint64(300)) << QByteArray("autoLockIdleSeconds=300");
        QTest::newRow("flag unchanged") << QStringLiteral("preventDisplaySleep") << QVariant(true) << QByteArray("preventDisplaySleep=true");
        QTest::newRow("flag changed") << QStringLiteral("showStatusHUD") << QVariant(false) << QByteArray("showStatusHUD=false");
        QTest::newRow("interceptSystemLock") << QStringLiteral("interceptSystemLock") << QVariant(false) << QByteArray("interceptSystemLock=false");
        QTest::newRow("disableHotCorners") << QStringLiteral("disableHotCorners") << QVariant(false) << QByteArray("disableHotCorners=false");
        QTest::newRow("playSounds") << QStringLiteral("playSounds") << QVariant(true) << QByteArray("playSounds=true");
        QTest::newRow("launchAtLogin") << QStringLiteral("launchAtLogin") << QVariant(true) << QByteArray("launchAtLogin=true");
    }

    void everyAssignmentWritesAndSignalsOnce()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, written);
        AppSettings settings;
        const QMetaProperty setting = settingProperty(settings, name.toLatin1().constData());
        QSignalSpy changes(&settings, &AppSettings::changes);
        QSignalSpy notified(&settings, setting.notifySignal());
        // The property notifies first; the change signal comes once the file has it.
        QStringList order;
        connect(&settings, &AppSettings::changes, this, [&] { order << QStringLiteral("changes:") + QString::fromUtf8(storeText()); });

        QVERIFY(setting.write(&settings, value));
        QCOMPARE(notified.count(), 1);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(setting.read(&settings), value);
        QVERIFY2(storeText().contains(written), storeText().constData());
        QCOMPARE(order.size(), 1);
        QVERIFY(order.first().contains(QString::fromUtf8(written)));

        QVERIFY(setting.write(&settings, value));
        QCOMPARE(notified.count(), 2);
        QCOMPARE(changes.count(), 2);
    }

    void aSecondStoreSeesTheFirstOnesValuesAtOnce()
    {
        AppSettings first;
        first.setOverlayAlpha(0.25);
        first.setAutoLockIdleSeconds(600);
        first.setPlaySounds(true);
        first.setPreventDisplaySleep(false);

        // The file itself holds them, not only this process's cache.
        const QByteArray text = storeText();
        QVERIFY2(text.contains("overlayAlpha=0.25") && text.contains("autoLockIdleSeconds=600")
                     && text.contains("playSounds=true") && text.contains("preventDisplaySleep=false"),
                 text.constData());

        const AppSettings second;
        QCOMPARE(second.overlayAlpha(), 0.25);
        QCOMPARE(second.autoLockIdleSeconds(), 600);
        QCOMPARE(second.playSounds(), true);
        QCOMPARE(second.preventDisplaySleep(), false);
        QCOMPARE(second.showStatusHUD(), true);
    }

    void thePayloadHoldsExactlyTheEightSettings()
    {
        AppSettings settings;
        const QByteArray defaults = settings.encoded();
        QVERIFY(defaults.startsWith("bplist00"));
        const std::optional<QVariantMap> entries = decodeDictionary(defaults);
        QVERIFY(entries);
        QStringList expectedKeys;
        for (const char *name : settingNames)
            expectedKeys << QString::fromLatin1(name);
        expectedKeys.sort();
        QCOMPARE(entries->keys(), expectedKeys);
        QVERIFY(!entries->contains(QString::fromLatin1(PVDefaultsKey::lockHotkey)));
        QCOMPARE(entries->value(QStringLiteral("overlayAlpha")), QVariant(0.05));
        QCOMPARE(entries->value(QStringLiteral("autoLockIdleSeconds")), QVariant(qint64(0)));
        QCOMPARE(entries->value(QStringLiteral("showStatusHUD")), QVariant(true));
        QCOMPARE(entries->value(QStringLiteral("launchAtLogin")), QVariant(false));

        settings.setOverlayAlpha(0.8);
        settings.setAutoLockIdleSeconds(-5);
        settings.setInterceptSystemLock(false);
        const std::optional<QVariantMap> changed = decodeDictionary(settings.encoded());
        QVERIFY(changed);
        QCOMPARE(changed->size(), 8);
        QCOMPARE(changed->value(QStringLiteral("overlayAlpha")), QVariant(0.8));
        QCOMPARE(changed->value(QStringLiteral("autoLockIdleSeconds")), QVariant(qint64(-5)));
        QCOMPARE(changed->value(QStringLiteral("interceptSystemLock")), QVariant(false));
        QCOMPARE(changed->value(QStringLiteral("disableHotCorners")), QVariant(true));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
