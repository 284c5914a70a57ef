// paneveil-gen: writes, at build time, the identity property lists of the
// helper and the app, the C++ sources that embed them in ELF sections, and
// the helper's launch files (D-Bus activation, systemd user unit, XDG
// autostart entry, launch-agent property list).
//
// Identifiers come from shared/Constants.h, install paths from the command
// line, and every other value from the table below, which is the only place
// they are written down.
#include "Constants.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <plist/plist.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// ---------------------------------------------------------------------------
// What the generated files say beyond shared/Constants.h.
namespace Table {
constexpr char developmentRegion[] = "en";
constexpr char infoDictionaryVersion[] = "6.0";
constexpr char packageType[] = "APPL";
constexpr char bundleVersion[] = "1";
constexpr char minimumSystemVersion[] = "14.0";
constexpr char helperName[] = "Paneveil Helper";
constexpr char appName[] = "Paneveil";
constexpr char appExecutable[] = "paneveil";
constexpr char processType[] = "Interactive";
constexpr char sessionTarget[] = "graphical-session.target";
} // namespace Table

// ---------------------------------------------------------------------------
// Property lists as ordered tables; libplist keeps dictionary insertion order
// in its XML output, so the order written here is the order in the file.
using StringArray = std::vector<std::string>;
using BoolDict = std::vector<std::pair<std::string, bool>>;
using PlistValue = std::variant<std::string, bool, StringArray, BoolDict>;
using PlistEntries = std::vector<std::pair<std::string, PlistValue>>;

PlistEntries bundleIdentity(const std::string &executable, const std::string &name,
                            const std::string &identifier, const std::string &shortVersion)
{
    return {
        {"CFBundleDevelopmentRegion", Table::developmentRegion},
        {"CFBundleExecutable", executable},
        {"CFBundleDisplayName", name},
        {"CFBundleIdentifier", identifier},
        {"CFBundleInfoDictionaryVersion", Table::infoDictionaryVersion},
        {"CFBundleName", name},
        {"CFBundlePackageType", Table::packageType},
        {"CFBundleShortVersionString", shortVersion},
        {"CFBundleVersion", Table::bundleVersion},
    };
}

PlistEntries helperInfoPlist(const std::string &shortVersion)
{
    // The helper's executable is named after its identifier.
    PlistEntries entries = bundleIdentity(PVConstants::helperBundleID, Table::helperName,
                                          PVConstants::helperBundleID, shortVersion);
    entries.emplace_back("LSMinimumSystemVersion", Table::minimumSystemVersion);
    entries.emplace_back("SMAuthorizedClients", StringArray{PVConstants::appCodeSigningRequirement});
    return entries;
}

PlistEntries appInfoPlist(const std::string &shortVersion)
{
    return bundleIdentity(Table::appExecutable, Table::appName, PVConstants::appBundleID,
                          shortVersion);
}

PlistEntries helperLaunchPlist(const std::string &helperRelativePath)
{
    return {
        {"Label", PVConstants::helperBundleID},
        {"BundleProgram", helperRelativePath},
        {"MachServices", BoolDict{{PVConstants::helperMachServiceName, true}}},
        {"RunAtLoad", true},
        // Restarted when it did not exit cleanly, left alone when it did.
        {"KeepAlive", BoolDict{{"SuccessfulExit", false}}},
        {"AssociatedBundleIdentifiers", StringArray{PVConstants::appBundleID}},
        {"ProcessType", Table::processType},
    };
}

// ---------------------------------------------------------------------------
struct PlistFree {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

plist_t toNode(const PlistValue &value)
{
    if (const auto *text = std::get_if<std::string>(&value))
        return plist_new_string(text->c_str());
    if (const auto *flag = std::get_if<bool>(&value))
        return plist_new_bool(*flag ? 1 : 0);
    if (const auto *strings = std::get_if<StringArray>(&value)) {
        plist_t array = plist_new_array();
        for (const std::string &text : *strings)
            plist_array_append_item(array, plist_new_string(text.c_str()));
        return array;
    }
    plist_t dict = plist_new_dict();
    for (const auto &[key, flag] : std::get<BoolDict>(value))
        plist_dict_set_item(dict, key.c_str(), plist_new_bool(flag ? 1 : 0));
    return dict;
}

std::optional<QByteArray> plistXml(const PlistEntries &entries, QString *error)
{
    PlistPtr dict(plist_new_dict());
    for (const auto &[key, value] : entries)
        plist_dict_set_item(dict.get(), key.c_str(), toNode(value));
    // plist_dict_set_item replaces an existing key in place, which would
    // hide a repeated key in the table.
    if (plist_dict_get_size(dict.get()) != entries.size()) {
        *error = u"a property list table repeats a key"_s;
        return std::nullopt;
    }
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dict.get(), &xml, &length);
    if (!xml) {
        *error = u"libplist could not write a property list as XML"_s;
        return std::nullopt;
    }
    QByteArray bytes(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return bytes;
}

// CFBundleShortVersionString takes the numeric release of PVConstants::version
// ("0.1.0" of "0.1.0-dev").
std::optional<std::string> shortVersion(QString *error)
{
    const QString full = QString::fromUtf8(PVConstants::version);
    static const QRegularExpression release(uR"(^(\d+(?:\.\d+){0,2})(?:-.*)?$)"_s);
    const QRegularExpressionMatch match = release.match(full);
    if (!match.hasMatch()) {
        *error = u"PVConstants::version \"%1\" does not start with a release number such as 1.2.3"_s
                     .arg(full);
        return std::nullopt;
    }
    return match.captured(1).toStdString();
}

// ---------------------------------------------------------------------------
// Embedding: each property list becomes an array of exactly its bytes (no
// terminating NUL) in a section of its own.
struct EmbeddedSection {
    const char *sectionName;
    const char *symbol;
    QByteArray bytes;
};

QByteArray sectionsSource(const std::vector<EmbeddedSection> &sections)
{
    QByteArray out =
        "// Generated by paneveil-gen from shared/Constants.h and tools/paneveil_gen.cpp;\n"
        "// edit those, not this file.\n"
        "// Nothing refers to these arrays: `used` keeps the compiler from dropping\n"
        "// them and `retain` keeps the linker's --gc-sections from doing so.\n"
        "#if defined(__has_attribute)\n"
        "#if __has_attribute(retain)\n"
        "#define PANEVEIL_SECTION_RETAIN , retain\n"
        "#endif\n"
        "#endif\n"
        "#ifndef PANEVEIL_SECTION_RETAIN\n"
        "#define PANEVEIL_SECTION_RETAIN\n"
        "#endif\n"
        "\n"
        "namespace {\n";
    for (const EmbeddedSection &section : sections) {
        out += "\n__attribute__((section(\"" + QByteArray(section.sectionName)
               + "\"), used PANEVEIL_SECTION_RETAIN))\nconst unsigned char "
               + QByteArray(section.symbol) + '[' + QByteArray::number(section.bytes.size())
               + "] = {";
        for (qsizetype i = 0; i < section.bytes.size(); ++i) {
            out += (i % 12 == 0) ? "\n    " : " ";
            out += "0x" + QByteArray::number(uchar(section.bytes.at(i)), 16).rightJustified(2, '0')
                   + ',';
        }
        out += "\n};\n";
    }
    out += "\n} // namespace\n";
    return out;
}

// ---------------------------------------------------------------------------
// Launch files. Their Exec lines carry the helper path unquoted, which the
// argument checks below make safe in all three formats.
QByteArray dbusActivationFile(const QByteArray &helperPath, const QByteArray &unitName)
{
    return "# Generated by paneveil-gen.\n"
           "[D-BUS Service]\n"
           "Name=" + QByteArray(PVConstants::helperMachServiceName) + "\n"
           "Exec=" + helperPath + "\n"
           "SystemdService=" + unitName + "\n";
}

QByteArray systemdUserUnit(const QByteArray &helperPath)
{
    const QByteArray target = Table::sessionTarget;
    return "# Generated by paneveil-gen.\n"
           "[Unit]\n"
           "Description=" + QByteArray(Table::helperName) + "\n"
           "PartOf=" + target + "\n"
           "After=" + target + "\n"
           "\n"
           "[Service]\n"
           "Type=dbus\n"
           "BusName=" + QByteArray(PVConstants::helperMachServiceName) + "\n"
           "ExecStart=" + helperPath + "\n"
           "# A crash restarts the helper; a clean exit leaves it stopped.\n"
           "Restart=on-failure\n"
           "\n"
           "[Install]\n"
           "WantedBy=" + target + "\n";
}

QByteArray autostartEntry(const QByteArray &helperPath)
{
    return "# Generated by paneveil-gen.\n"
           "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" + QByteArray(Table::helperName) + "\n"
           "Exec=" + helperPath + "\n"
           // A copy left behind after the helper is uninstalled stays quiet.
           "TryExec=" + helperPath + "\n"
           "NoDisplay=true\n"
           // Under a systemd user manager the unit starts the helper instead.
           "X-systemd-skip=true\n";
}

// ---------------------------------------------------------------------------
// Path checks. Desktop entries, systemd units and D-Bus service files each
// quote differently (and systemd expands % and $); paths limited to these
// characters need no quoting in any of them.
bool isPlainPathCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9')
           || u == u'/' || u == u'.' || u == u'_' || u == u'-' || u == u'+' || u == u','
           || u == u':' || u == u'@' || u == u'=';
}

std::optional<QString> checkPlainPath(const QString &option, const QString &path)
{
    for (const QChar c : path) {
        if (!isPlainPathCharacter(c))
            return u"--%1 \"%2\" contains '%3'; the launch files can only carry paths made of "
                   "letters, digits and / . _ - + , : @ ="_s
                .arg(option, path, c.isPrint() ? QString(c) : u"\\u%1"_s.arg(uint(c.unicode()), 4, 16, QChar(u'0')));
    }
    return std::nullopt;
}

struct InstallLayout {
    QString prefix;    // absolute
    QString helperDir; // relative to prefix
};

std::optional<QString> checkLayout(const InstallLayout &layout)
{
    if (layout.prefix.isEmpty() || !layout.prefix.startsWith(u'/'))
        return u"--install-prefix must be an absolute path, got \"%1\""_s.arg(layout.prefix);
    if (auto error = checkPlainPath(u"install-prefix"_s, layout.prefix))
        return error;
    if (layout.helperDir.isEmpty() || layout.helperDir.startsWith(u'/'))
        return u"--helper-dir must be a path relative to the install prefix, got \"%1\""_s
            .arg(layout.helperDir);
    if (auto error = checkPlainPath(u"helper-dir"_s, layout.helperDir))
        return error;
    for (const QString &part : layout.helperDir.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"." || part == u"..")
            return u"--helper-dir \"%1\" must stay inside the install prefix and name each "
                   "folder plainly (no . or ..)"_s
                .arg(layout.helperDir);
    }
    return std::nullopt;
}

// Relative output path -> contents.
using GeneratedFiles = std::map<QString, QByteArray>;

std::optional<GeneratedFiles> generate(const InstallLayout &layout, QString *error)
{
    if (auto layoutError = checkLayout(layout)) {
        *error = *layoutError;
        return std::nullopt;
    }
    const std::optional<std::string> version = shortVersion(error);
    if (!version)
        return std::nullopt;

    const QString helperDir = QDir::cleanPath(layout.helperDir);
    const QString helperRelative = helperDir + u'/' + QLatin1StringView(PVConstants::helperBundleID);
    const QByteArray helperPath =
        QDir::cleanPath(layout.prefix + u'/' + helperRelative).toUtf8();
    const QString helperId = QLatin1StringView(PVConstants::helperBundleID);
    const QString unitName = helperId + u".service"_s;

    const auto helperInfo = plistXml(helperInfoPlist(*version), error);
    const auto helperLaunch = plistXml(helperLaunchPlist(helperRelative.toStdString()), error);
    const auto appInfo = plistXml(appInfoPlist(*version), error);
    if (!helperInfo || !helperLaunch || !appInfo)
        return std::nullopt;

    GeneratedFiles files;
    files[u"helper/Info.plist"_s] = *helperInfo;
    files[u"helper/"_s + QLatin1StringView(PVConstants::helperPlistName)] = *helperLaunch;
    files[u"helper/sections.cpp"_s] = sectionsSource({
        {PVBus::infoPlistSection, "embeddedInfoPlist", *helperInfo},
        {PVBus::launchdPlistSection, "embeddedLaunchPlist", *helperLaunch},
    });
    files[u"app/Info.plist"_s] = *appInfo;
    files[u"app/sections.cpp"_s] = sectionsSource({
        {PVBus::infoPlistSection, "embeddedInfoPlist", *appInfo},
    });
    files[u"dbus-1/services/"_s + unitName] = dbusActivationFile(helperPath, unitName.toUtf8());
    files[u"systemd/user/"_s + unitName] = systemdUserUnit(helperPath);
    files[u"autostart/"_s + helperId + u".desktop"_s] = autostartEntry(helperPath);
    return files;
}

std::optional<QString> writeFiles(const QString &outputDir, const GeneratedFiles &files)
{
    const QDir root(outputDir);
    for (const auto &[relativePath, contents] : files) {
        const QString path = root.filePath(relativePath);
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder))
            return u"cannot create folder %1"_s.arg(folder);
        // Each file is replaced whole or not at all.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()
            || !file.commit())
            return u"cannot write %1: %2"_s.arg(path, file.errorString());
    }
    return std::nullopt;
}

int fail(int status, const QString &message)
{
    std::fprintf(stderr, "paneveil-gen: %s\n", qUtf8Printable(message));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Writes Paneveil's identity property lists, the sources that embed them, and the "
        "helper's launch files."_s);
    parser.addHelpOption();
    const QCommandLineOption outputDirOption(u"output-dir"_s, u"Folder to write into."_s,
                                             u"dir"_s);
    const QCommandLineOption prefixOption(u"install-prefix"_s,
                                          u"Absolute install prefix."_s, u"path"_s);
    const QCommandLineOption helperDirOption(
        u"helper-dir"_s, u"Folder of the helper executable, relative to the prefix."_s,
        u"path"_s);
    parser.addOptions({outputDirOption, prefixOption, helperDirOption});

    constexpr int usageError = 2;
    if (!parser.parse(application.arguments()))
        return fail(usageError, parser.errorText());
    if (parser.isSet(u"help"_s)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(usageError, u"unexpected argument \"%1\""_s.arg(parser.positionalArguments().first()));
    for (const QCommandLineOption &option : {outputDirOption, prefixOption, helperDirOption}) {
        if (!parser.isSet(option))
            return fail(usageError, u"--%1 is required"_s.arg(option.names().first()));
    }
    const QString outputDir = parser.value(outputDirOption);
    if (outputDir.isEmpty())
        return fail(usageError, u"--output-dir must not be empty"_s);

    QString error;
    const std::optional<GeneratedFiles> files =
        generate({parser.value(prefixOption), parser.value(helperDirOption)}, &error);
    if (!files)
        return fail(usageError, error);
    if (const auto writeError = writeFiles(outputDir, *files))
        return fail(1, *writeError);
    return 0;
}
