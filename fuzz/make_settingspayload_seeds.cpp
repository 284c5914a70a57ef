// Writes the seed corpus for fuzz_settingspayload into the folder given as
// the only argument: writer output for a few value sets, the same lists as
// XML, and a few shapes the writer never produces.
#include "Constants.h"
#include "SettingsPayload.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

bool writeSeed(const QDir &folder, const char *name, const QByteArray &bytes)
{
    if (bytes.isEmpty()) {
        std::fprintf(stderr, "seed %s came out empty\n", name);
        return false;
    }
    QFile file(folder.filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(file.fileName()), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

QByteArray asXml(const QByteArray &binary)
{
    plist_t root = nullptr;
    plist_from_memory(binary.constData(), uint32_t(binary.size()), &root);
    if (!root)
        return {};
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    plist_free(root);
    const QByteArray result(xml, qsizetype(length));
    std::free(xml);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    SettingsPayloadValues defaults;
    SettingsPayloadValues flipped;
    flipped.overlayAlpha = 0.2;
    flipped.autoLockIdleSeconds = 300;
    flipped.preventDisplaySleep = false;
    flipped.showStatusHUD = true;
    flipped.interceptSystemLock = true;
    flipped.disableHotCorners = true;
    flipped.playSounds = true;
    flipped.launchAtLogin = true;
    SettingsPayloadValues extremes;
    extremes.overlayAlpha = -1e308;
    extremes.autoLockIdleSeconds = std::numeric_limits<qint64>::min();

    bool ok = true;
    ok &= writeSeed(folder, "defaults.bplist", encodeSettingsPayload(defaults));
    ok &= writeSeed(folder, "flipped.bplist", encodeSettingsPayload(flipped));
    ok &= writeSeed(folder, "extremes.bplist", encodeSettingsPayload(extremes));
    ok &= writeSeed(folder, "flipped.xml", asXml(encodeSettingsPayload(flipped)));
    ok &= writeSeed(folder, "integers.xml",
                    QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                               "\t<key>") + PVDefaultsKey::overlayAlpha + "</key><integer>1</integer>\n"
                    "\t<key>" + PVDefaultsKey::preventDisplaySleep + "</key><integer>0</integer>\n"
                    "\t<key>" + PVDefaultsKey::playSounds + "</key><string>yes</string>\n"
                    "\t<key>nested</key><array><dict><key>a</key><real>nan</real></dict><data>AAE=</data></array>\n"
                    "</dict>\n</plist>\n");
    return ok ? 0 : 1;
}
