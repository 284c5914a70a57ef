// The files paneveil-gen writes, read back the way the system meets them:
// property lists out of the ELF sections of built executables, launch files
// as groups of key=value lines. The executables and paths come from the
// environment (see generated_files.cmake), so the same checks run on the
// fixture executables and on the real programs.
#include "Constants.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

using PlistEntries = QList<std::pair<QString, QVariant>>;

namespace {

const QString helperId = QString::fromLatin1(PVConstants::helperBundleID);
const QString unitName = helperId + u".service"_s;
const QString activationFile = u"dbus-1/services/"_s + unitName;
const QString unitFile = u"systemd/user/"_s + unitName;
const QString autostartFile = u"autostart/"_s + helperId + u".desktop"_s;
const QString helperInfoFile = u"helper/Info.plist"_s;
const QString helperLaunchFile = u"helper/"_s + QString::fromLatin1(PVConstants::helperPlistName);
const QString appInfoFile = u"app/Info.plist"_s;

// Bytes of the one section called `name`; nullopt with a reason otherwise.
std::optional<QByteArray> elfSection(const QString &path, const char *name, QString *error)
{
    if (elf_version(EV_CURRENT) == EV_NONE) {
        *error = u"libelf cannot be initialised"_s;
        return std::nullopt;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = u"cannot open "_s + path;
        return std::nullopt;
    }
    Elf *elf = elf_begin(fd, ELF_C_READ, nullptr);
    std::optional<QByteArray> found;
    int matches = 0;
    size_t nameTable = 0;
    if (!elf || elf_kind(elf) != ELF_K_ELF || elf_getshdrstrndx(elf, &nameTable) != 0) {
        *error = path + u" is not a readable ELF file"_s;
    } else {
        for (Elf_Scn *section = elf_nextscn(elf, nullptr); section;
             section = elf_nextscn(elf, section)) {
            GElf_Shdr header{};
            if (!gelf_getshdr(section, &header))
                continue;
            const char *sectionName = elf_strptr(elf, nameTable, header.sh_name);
            if (!sectionName || qstrcmp(sectionName, name) != 0)
                continue;
            ++matches;
            Elf_Data *data = elf_rawdata(section, nullptr);
            found = (data && data->d_buf)
                ? QByteArray(static_cast<const char *>(data->d_buf), qsizetype(data->d_size))
                : QByteArray();
        }
        if (matches == 0)
            *error = path + u" has no section "_s + QLatin1StringView(name);
        else if (matches > 1)
            *error = path + u" has %1 sections called "_s.arg(matches) + QLatin1StringView(name);
    }
    if (elf)
        elf_end(elf);
    ::close(fd);
    return matches == 1 ? found : std::nullopt;
}

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        char *text = nullptr;
        plist_get_string_val(node, &text);
        const QString value = QString::fromUtf8(text);
        std::free(text);
        return value;
    }
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return flag != 0;
    }
    case PLIST_ARRAY: {
        QVariantList items;
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            items.append(toVariant(plist_array_get_item(node, i)));
        return items;
    }
    case PLIST_DICT: {
        // A list of [key, value] pairs, so that order counts in comparisons.
        QVariantList pairs;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!value)
                break;
            pairs.append(QVariant(QVariantList{QString::fromUtf8(key), toVariant(value)}));
            std::free(key);
        }
        std::free(iter);
        return pairs;
    }
    default:
        return u"<node of type %1>"_s.arg(int(plist_get_node_type(node)));
    }
}

std::optional<PlistEntries> parsePlist(const QByteArray &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    if (!root)
        return std::nullopt;
    std::optional<PlistEntries> entries;
    if (plist_get_node_type(root) == PLIST_DICT) {
        entries.emplace();
        for (const QVariant &pair : toVariant(root).toList()) {
            const QVariantList keyAndValue = pair.toList();
            entries->append({keyAndValue.at(0).toString(), keyAndValue.at(1)});
        }
    }
    plist_free(root);
    return entries;
}

QVariant dictOf(const QString &key, bool value)
{
    return QVariantList{QVariant(QVariantList{key, value})};
}

// Group -> key -> value. Blank lines and # comments are skipped; anything
// else that is not a [group] or a key=value inside one is an error, as is a
// key given twice.
using KeyFile = std::map<QString, std::map<QString, QString>>;

std::optional<KeyFile> readKeyFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"cannot read "_s + path;
        return std::nullopt;
    }
    KeyFile groups;
    QString group;
    int lineNumber = 0;
    for (const QByteArray &rawLine : file.readAll().split('\n')) {
        ++lineNumber;
        const QString line = QString::fromUtf8(rawLine);
        const QString where = u"%1:%2: "_s.arg(path).arg(lineNumber);
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            group = line.mid(1, line.size() - 2);
            if (groups.count(group)) {
                *error = where + u"group repeated"_s;
                return std::nullopt;
            }
            groups[group];
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (group.isEmpty() || equals <= 0) {
            *error = where + u"not a key=value line inside a group: "_s + line;
            return std::nullopt;
        }
        const QString key = line.left(equals);
        if (!groups[group].emplace(key, line.mid(equals + 1)).second) {
            *error = where + u"key repeated: "_s + key;
            return std::nullopt;
        }
    }
    return groups;
}

std::optional<QString> keyValue(const KeyFile &keyFile, const QString &group, const QString &key)
{
    const auto groupIt = keyFile.find(group);
    if (groupIt == keyFile.end())
        return std::nullopt;
    const auto keyIt = groupIt->second.find(key);
    if (keyIt == groupIt->second.end())
        return std::nullopt;
    return keyIt->second;
}

struct GeneratorRun {
    QProcess::ExitStatus exitStatus;
    int exitCode;
    QString errors;
};

} // namespace

Q_DECLARE_METATYPE(PlistEntries)

class TestGeneratedIdentity : public QObject {
    Q_OBJECT

private:
    QString m_generatedDir;
    QString m_helperExecutable;
    QString m_appExecutable;
    QString m_installPrefix;
    QString m_helperInstallDir;
    QString m_projectVersion;
    QString m_generator;

    QString installedHelperPath() const { return m_helperInstallDir + u'/' + helperId; }

    GeneratorRun runGenerator(const QStringList &arguments)
    {
        QProcess generator;
        generator.start(m_generator, arguments);
        if (!generator.waitForFinished(30000))
            return {QProcess::CrashExit, -1, u"generator did not finish: "_s + generator.errorString()};
        return {generator.exitStatus(), generator.exitCode(),
                QString::fromUtf8(generator.readAllStandardError())};
    }

private Q_SLOTS:
    void initTestCase()
    {
        const std::pair<const char *, QString *> settings[] = {
            {"PANEVEIL_GENERATED_DIR", &m_generatedDir},
            {"PANEVEIL_HELPER_EXECUTABLE", &m_helperExecutable},
            {"PANEVEIL_APP_EXECUTABLE", &m_appExecutable},
            {"PANEVEIL_INSTALL_PREFIX", &m_installPrefix},
            {"PANEVEIL_HELPER_INSTALL_DIR", &m_helperInstallDir},
            {"PANEVEIL_PROJECT_VERSION", &m_projectVersion},
            {"PANEVEIL_GEN", &m_generator},
        };
        for (const auto &[name, target] : settings) {
            *target = qEnvironmentVariable(name);
            if (target->isEmpty())
                QFAIL(qPrintable(u"%1 is not set; run this test through ctest"_s.arg(QLatin1StringView(name))));
        }
    }

    // Each section holds exactly the bytes of its generated file: no
    // terminating NUL, no padding, nothing of another section.
    void sectionHoldsGeneratedFile_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("file");
        QTest::newRow("helper .info_plist")
            << m_helperExecutable << QByteArray(PVBus::infoPlistSection) << helperInfoFile;
        QTest::newRow("helper .launchd_plist")
            << m_helperExecutable << QByteArray(PVBus::launchdPlistSection) << helperLaunchFile;
        QTest::newRow("app .info_plist")
            << m_appExecutable << QByteArray(PVBus::infoPlistSection) << appInfoFile;
    }

    void sectionHoldsGeneratedFile()
    {
        QFETCH(QString, executable);
        QFETCH(QByteArray, section);
        QFETCH(QString, file);

        QString error;
        const std::optional<QByteArray> embedded = elfSection(executable, section.constData(), &error);
        QVERIFY2(embedded, qPrintable(error));
        QFile generated(QDir(m_generatedDir).filePath(file));
        QVERIFY2(generated.open(QIODevice::ReadOnly), qPrintable(generated.fileName()));
        QCOMPARE(*embedded, generated.readAll());
        QVERIFY(!embedded->endsWith('\0'));
        QVERIFY(embedded->startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\""));
        QVERIFY(embedded->contains("<plist version=\"1.0\">"));
    }

    void appCarriesNoLaunchDefinition()
    {
        QString error;
        QVERIFY(elfSection(m_appExecutable, PVBus::infoPlistSection, &error));
        QVERIFY(!elfSection(m_appExecutable, PVBus::launchdPlistSection, &error));
        QVERIFY2(error.contains(u"has no section"_s), qPrintable(error));
    }

    void plistKeysInOrder_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<PlistEntries>("expected");

        const QString appId = QString::fromLatin1(PVConstants::appBundleID);
        const auto identity = [this](const QString &executable, const QString &name,
                                     const QString &identifier) {
            return PlistEntries{
                {u"CFBundleDevelopmentRegion"_s, u"en"_s},
                {u"CFBundleExecutable"_s, executable},
                {u"CFBundleDisplayName"_s, name},
                {u"CFBundleIdentifier"_s, identifier},
                {u"CFBundleInfoDictionaryVersion"_s, u"6.0"_s},
                {u"CFBundleName"_s, name},
                {u"CFBundlePackageType"_s, u"APPL"_s},
                {u"CFBundleShortVersionString"_s, m_projectVersion},
                {u"CFBundleVersion"_s, u"1"_s},
            };
        };

        PlistEntries helperInfo = identity(helperId, u"Paneveil Helper"_s, helperId);
        helperInfo.append({u"LSMinimumSystemVersion"_s, u"14.0"_s});
        helperInfo.append({u"SMAuthorizedClients"_s,
                           QVariantList{QString::fromLatin1(PVConstants::appCodeSigningRequirement)}});
        QTest::newRow("helper Info.plist")
            << m_helperExecutable << QByteArray(PVBus::infoPlistSection) << helperInfo;

        const QString bundleProgram = QDir(m_installPrefix).relativeFilePath(installedHelperPath());
        QTest::newRow("helper launch-agent plist")
            << m_helperExecutable << QByteArray(PVBus::launchdPlistSection)
            << PlistEntries{
                   {u"Label"_s, helperId},
                   {u"BundleProgram"_s, bundleProgram},
                   {u"MachServices"_s,
                    dictOf(QString::fromLatin1(PVConstants::helperMachServiceName), true)},
                   {u"RunAtLoad"_s, true},
                   {u"KeepAlive"_s, dictOf(u"SuccessfulExit"_s, false)},
                   {u"AssociatedBundleIdentifiers"_s, QVariantList{appId}},
                   {u"ProcessType"_s, u"Interactive"_s},
               };

        QTest::newRow("app Info.plist") << m_appExecutable << QByteArray(PVBus::infoPlistSection)
                                        << identity(u"paneveil"_s, u"Paneveil"_s, appId);
    }

    void plistKeysInOrder()
    {
        QFETCH(QString, executable);
        QFETCH(QByteArray, section);
        QFETCH(PlistEntries, expected);

        QString error;
        const std::optional<QByteArray> embedded = elfSection(executable, section.constData(), &error);
        QVERIFY2(embedded, qPrintable(error));
        const std::optional<PlistEntries> actual = parsePlist(*embedded);
        QVERIFY2(actual, "the section is not an XML property list with a dictionary at its root");

        QStringList actualKeys, expectedKeys;
        for (const auto &entry : *actual)
            actualKeys.append(entry.first);
        for (const auto &entry : expected)
            expectedKeys.append(entry.first);
        QCOMPARE(actualKeys, expectedKeys);
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const QVariant &value = actual->at(i).second;
            if (value != expected.at(i).second)
                QFAIL(qPrintable(u"%1 holds %2, expected %3"_s.arg(
                    expected.at(i).first, QDebug::toString(value),
                    QDebug::toString(expected.at(i).second))));
        }
    }

    // The activation file, the unit and the autostart entry start the same
    // executable under the same bus name.
    void launchFilesAgree_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString path = installedHelperPath();
        const QString busName = QString::fromLatin1(PVConstants::helperMachServiceName);
        const QString dbus = u"D-BUS Service"_s;
        const QString entry = u"Desktop Entry"_s;
        const QString session = u"graphical-session.target"_s;

        QTest::newRow("activation Exec") << activationFile << dbus << u"Exec"_s << path;
        QTest::newRow("activation Name") << activationFile << dbus << u"Name"_s << busName;
        QTest::newRow("activation names the unit")
            << activationFile << dbus << u"SystemdService"_s << unitName;
        QTest::newRow("unit ExecStart") << unitFile << u"Service"_s << u"ExecStart"_s << path;
        QTest::newRow("unit BusName") << unitFile << u"Service"_s << u"BusName"_s << busName;
        QTest::newRow("unit Type") << unitFile << u"Service"_s << u"Type"_s << u"dbus"_s;
        QTest::newRow("unit restarts after a crash only")
            << unitFile << u"Service"_s << u"Restart"_s << u"on-failure"_s;
        QTest::newRow("unit PartOf") << unitFile << u"Unit"_s << u"PartOf"_s << session;
        QTest::newRow("unit After") << unitFile << u"Unit"_s << u"After"_s << session;
        QTest::newRow("unit starts with the session")
            << unitFile << u"Install"_s << u"WantedBy"_s << session;
        QTest::newRow("autostart Exec") << autostartFile << entry << u"Exec"_s << path;
        QTest::newRow("autostart TryExec") << autostartFile << entry << u"TryExec"_s << path;
        QTest::newRow("autostart Type") << autostartFile << entry << u"Type"_s << u"Application"_s;
        QTest::newRow("autostart Name") << autostartFile << entry << u"Name"_s << u"Paneveil Helper"_s;
        QTest::newRow("autostart hidden from menus")
            << autostartFile << entry << u"NoDisplay"_s << u"true"_s;
        QTest::newRow("autostart left to the unit under systemd")
            << autostartFile << entry << u"X-systemd-skip"_s << u"true"_s;
    }

    void launchFilesAgree()
    {
        QFETCH(QString, file);
        QFETCH(QString, group);
        QFETCH(QString, key);
        QFETCH(QString, expected);

        QString error;
        const std::optional<KeyFile> keyFile = readKeyFile(QDir(m_generatedDir).filePath(file), &error);
        QVERIFY2(keyFile, qPrintable(error));
        const std::optional<QString> value = keyValue(*keyFile, group, key);
        QVERIFY2(value, qPrintable(u"no %1 in [%2]"_s.arg(key, group)));
        QCOMPARE(*value, expected);
    }

    // Real programs only: the fixtures stand in under names of their own.
    void executableNamesMatchBundles_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::newRow("helper") << m_helperExecutable;
        QTest::newRow("app") << m_appExecutable;
    }

    void executableNamesMatchBundles()
    {
        if (qEnvironmentVariable("PANEVEIL_CHECK_EXECUTABLE_NAMES") != u"1")
            QSKIP("fixture executables do not carry the programs' names");
        QFETCH(QString, executable);
        QString error;
        const std::optional<QByteArray> embedded =
            elfSection(executable, PVBus::infoPlistSection, &error);
        QVERIFY2(embedded, qPrintable(error));
        const std::optional<PlistEntries> entries = parsePlist(*embedded);
        QVERIFY(entries);
        QVariant bundleExecutable;
        for (const auto &[key, value] : *entries) {
            if (key == u"CFBundleExecutable")
                bundleExecutable = value;
        }
        QCOMPARE(bundleExecutable.toString(), QFileInfo(executable).fileName());
    }

    // Paths come from the command line; the launch files follow them.
    void generatorFollowsLayout_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("helperDir");
        QTest::addColumn<QString>("expectedPath");
        QTest::addColumn<QString>("expectedBundleProgram");
        QTest::newRow("plain") << u"/opt/pv"_s << u"libexec/paneveil"_s
                               << u"/opt/pv/libexec/paneveil/"_s + helperId
                               << u"libexec/paneveil/"_s + helperId;
        QTest::newRow("stray slashes") << u"/opt/pv/"_s << u"lib//pv/"_s
                                       << u"/opt/pv/lib/pv/"_s + helperId << u"lib/pv/"_s + helperId;
        QTest::newRow("root prefix") << u"/"_s << u"usr/libexec/paneveil"_s
                                     << u"/usr/libexec/paneveil/"_s + helperId
                                     << u"usr/libexec/paneveil/"_s + helperId;
    }

    void generatorFollowsLayout()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, helperDir);
        QFETCH(QString, expectedPath);
        QFETCH(QString, expectedBundleProgram);

        QTemporaryDir out;
        QVERIFY(out.isValid());
        const GeneratorRun run = runGenerator({u"--output-dir"_s, out.path(), u"--install-prefix"_s,
                                               prefix, u"--helper-dir"_s, helperDir});
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));

        const std::pair<QString, std::pair<QString, QString>> execLines[] = {
            {activationFile, {u"D-BUS Service"_s, u"Exec"_s}},
            {unitFile, {u"Service"_s, u"ExecStart"_s}},
            {autostartFile, {u"Desktop Entry"_s, u"Exec"_s}},
        };
        for (const auto &[file, groupAndKey] : execLines) {
            QString error;
            const auto keyFile = readKeyFile(QDir(out.path()).filePath(file), &error);
            QVERIFY2(keyFile, qPrintable(error));
            const std::optional<QString> value = keyValue(*keyFile, groupAndKey.first, groupAndKey.second);
            QVERIFY2(value, qPrintable(file));
            QCOMPARE(*value, expectedPath);
        }

        QFile launchPlist(QDir(out.path()).filePath(helperLaunchFile));
        QVERIFY(launchPlist.open(QIODevice::ReadOnly));
        const std::optional<PlistEntries> entries = parsePlist(launchPlist.readAll());
        QVERIFY(entries && entries->size() > 1);
        QCOMPARE(entries->at(1).first, u"BundleProgram"_s);
        QCOMPARE(entries->at(1).second.toString(), expectedBundleProgram);
    }

    // Bad arguments stop the generator with a reason and before it writes.
    void generatorRejectsBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");
        const QString prefix = u"--install-prefix"_s;
        const QString helperDir = u"--helper-dir"_s;
        QTest::newRow("prefix missing") << QStringList{helperDir, u"libexec/pv"_s}
                                        << u"--install-prefix is required"_s;
        QTest::newRow("helper dir missing") << QStringList{prefix, u"/usr"_s}
                                            << u"--helper-dir is required"_s;
        QTest::newRow("relative prefix") << QStringList{prefix, u"usr"_s, helperDir, u"libexec"_s}
                                         << u"must be an absolute path"_s;
        QTest::newRow("absolute helper dir")
            << QStringList{prefix, u"/usr"_s, helperDir, u"/usr/libexec"_s}
            << u"relative to the install prefix"_s;
        QTest::newRow("helper dir leaves the prefix")
            << QStringList{prefix, u"/usr"_s, helperDir, u"../opt/pv"_s} << u"no . or .."_s;
        QTest::newRow("space in prefix")
            << QStringList{prefix, u"/opt/my apps"_s, helperDir, u"libexec"_s} << u"contains ' '"_s;
        QTest::newRow("systemd specifier in helper dir")
            << QStringList{prefix, u"/usr"_s, helperDir, u"lib%h"_s} << u"contains '%'"_s;
        QTest::newRow("newline in prefix")
            << QStringList{prefix, u"/usr\nExecStartPre=/bin/sh"_s, helperDir, u"libexec"_s}
            << u"contains '\\u000a'"_s;
        QTest::newRow("unknown option")
            << QStringList{prefix, u"/usr"_s, helperDir, u"libexec"_s, u"--frobnicate"_s}
            << u"frobnicate"_s;
        QTest::newRow("stray argument")
            << QStringList{prefix, u"/usr"_s, helperDir, u"libexec"_s, u"extra"_s}
            << u"unexpected argument \"extra\""_s;
    }

    void generatorRejectsBadArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);

        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QString out = QDir(scratch.path()).filePath(u"out"_s);
        const GeneratorRun run = runGenerator(QStringList{u"--output-dir"_s, out} + arguments);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errors.contains(reason), qPrintable(run.errors));
        QVERIFY(!QFileInfo::exists(out));
    }
};

QTEST_GUILESS_MAIN(TestGeneratedIdentity)
#include "tst_generated_identity.moc"
