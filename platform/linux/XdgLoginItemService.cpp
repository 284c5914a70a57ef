#include "XdgLoginItemService.h"

#include "Constants.h"
#include "DesktopOpener.h"
#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

QString unitName()
{
    return QLatin1StringView(PVConstants::helperBundleID) + QStringLiteral(".service");
}

QString autostartName()
{
    return QLatin1StringView(PVConstants::helperBundleID) + QStringLiteral(".desktop");
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A dangling symbolic link (a masked unit points at /dev/null, or a removed
// file) still occupies the name.
bool occupied(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool isMaskLink(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() && info.symLinkTarget() == QStringLiteral("/dev/null");
}

// Values of keys in the [Desktop Entry] group of a desktop file.
QString desktopEntryValue(const QByteArray &contents, const QByteArray &key)
{
    bool inMainGroup = false;
    for (QByteArray line : contents.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == key)
            return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return {};
}

bool removeIfPresent(const QString &path, QStringList *failures)
{
    if (!occupied(path))
        return false;
    if (!QFile::remove(path))
        failures->append(path);
    return true;
}

bool installCopy(const QString &templatePath, const QString &destination, QString *error)
{
    const QByteArray contents = readAll(templatePath);
    if (contents.isEmpty()) {
        *error = QStringLiteral("cannot read %1").arg(templatePath);
        return false;
    }
    if (!QDir().mkpath(QFileInfo(destination).absolutePath())) {
        *error = QStringLiteral("cannot create folder %1").arg(QFileInfo(destination).absolutePath());
        return false;
    }
    // A link left in the way (a mask) would make the save write through it.
    if (QFileInfo(destination).isSymLink() && !QFile::remove(destination)) {
        *error = QStringLiteral("cannot replace %1").arg(destination);
        return false;
    }
    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(destination, file.errorString());
        return false;
    }
    QFile::setPermissions(destination, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                           | QFileDevice::ReadOther);
    return true;
}

} // namespace

XdgLoginItemService::Options XdgLoginItemService::Options::fromEnvironment(const QString &helperExecutable,
                                                                          const QString &templatesDirectory,
                                                                          const QProcessEnvironment &environment)
{
    // The XDG base directory rules: a relative or empty value counts as unset.
    const auto folder = [&environment](const char *name, const QString &fallback) {
        const QString value = environment.value(QLatin1StringView(name));
        return QDir::isAbsolutePath(value) ? value : fallback;
    };
    const QString home = environment.value(QStringLiteral("HOME"), QDir::homePath());
    Options options;
    options.helperExecutable = helperExecutable;
    options.templatesDirectory = templatesDirectory;
    options.dataHome = folder("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    options.configHome = folder("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    options.runtimeDirectory = folder("XDG_RUNTIME_DIR", QString());
    options.currentDesktop = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP"));
    return options;
}

XdgLoginItemService::XdgLoginItemService(Options options)
    : m_options(std::move(options))
{
}

QString XdgLoginItemService::activationFilePath() const
{
    return m_options.dataHome + QStringLiteral("/dbus-1/services/") + unitName();
}

QString XdgLoginItemService::unitFilePath() const
{
    return m_options.configHome + QStringLiteral("/systemd/user/") + unitName();
}

QString XdgLoginItemService::autostartEntryPath() const
{
    return m_options.configHome + QStringLiteral("/autostart/") + autostartName();
}

QString XdgLoginItemService::activationTemplatePath() const
{
    return m_options.templatesDirectory + QStringLiteral("/dbus-1/services/") + unitName();
}

QString XdgLoginItemService::unitTemplatePath() const
{
    return m_options.templatesDirectory + QStringLiteral("/systemd/user/") + unitName();
}

QString XdgLoginItemService::autostartTemplatePath() const
{
    return m_options.templatesDirectory + QStringLiteral("/autostart/") + autostartName();
}

bool XdgLoginItemService::installationComplete() const
{
    const QFileInfo helper(m_options.helperExecutable);
    return helper.isFile() && helper.isExecutable() && QFileInfo(activationTemplatePath()).isFile()
        && QFileInfo(unitTemplatePath()).isFile() && QFileInfo(autostartTemplatePath()).isFile();
}

bool XdgLoginItemService::userManagerRunning() const
{
    if (m_options.runtimeDirectory.isEmpty())
        return false;
    struct stat info {};
    const QByteArray socket = QFile::encodeName(m_options.runtimeDirectory + QStringLiteral("/systemd/private"));
    return ::stat(socket.constData(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool XdgLoginItemService::runSystemctl(const QStringList &arguments, QString *output, QString *error) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_options.runtimeDirectory);
    process.setProcessEnvironment(environment);
    process.start(m_options.systemctlProgram, QStringList{QStringLiteral("--user")} + arguments);
    if (!process.waitForStarted(5000)) {
        *error = QStringLiteral("%1 could not be started").arg(m_options.systemctlProgram);
        return false;
    }
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        *error = QStringLiteral("systemctl --user %1 did not finish").arg(arguments.join(u' '));
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QStringLiteral("systemctl --user %1: %2")
                     .arg(arguments.join(u' '), QString::fromUtf8(process.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

bool XdgLoginItemService::disabledByUser()
{
    if (occupied(autostartEntryPath())) {
        const QByteArray entry = readAll(autostartEntryPath());
        if (desktopEntryValue(entry, "Hidden").compare(u"true", Qt::CaseInsensitive) == 0
            || desktopEntryValue(entry, "X-GNOME-Autostart-enabled").compare(u"false", Qt::CaseInsensitive) == 0)
            return true;
    }
    if (isMaskLink(unitFilePath()))
        return true;
    if (userManagerRunning() && QFileInfo(unitFilePath()).isFile()) {
        // is-enabled prints the state and exits non-zero for disabled and masked.
        QString state;
        QString ignored;
        runSystemctl({QStringLiteral("is-enabled"), unitName()}, &state, &ignored);
        if (state == u"disabled" || state.startsWith(u"masked"))
            return true;
    }
    return false;
}

bool XdgLoginItemService::registeredFilesMatchTemplates() const
{
    const auto same = [](const QString &installed, const QString &templatePath) {
        return QFileInfo(installed).isFile() && !QFileInfo(installed).isSymLink()
            && readAll(installed) == readAll(templatePath);
    };
    return same(activationFilePath(), activationTemplatePath()) && same(unitFilePath(), unitTemplatePath())
        && same(autostartEntryPath(), autostartTemplatePath());
}

int XdgLoginItemService::status()
{
    if (!installationComplete())
        return notFound;
    if (!occupied(activationFilePath()) && !occupied(unitFilePath()) && !occupied(autostartEntryPath()))
        return notRegistered;
    if (disabledByUser())
        return requiresApproval;
    // Some files missing, or left from another installation: registering
    // again puts the right ones in place.
    if (!registeredFilesMatchTemplates())
        return notRegistered;
    return enabled;
}

void XdgLoginItemService::reloadBus()
{
    if (m_options.reloadBus)
        m_options.reloadBus();
}

bool XdgLoginItemService::registerService(QString *error)
{
    if (!installationComplete()) {
        *error = QStringLiteral("the helper or its launch files are missing from the installation (%1, %2)")
                     .arg(m_options.helperExecutable, m_options.templatesDirectory);
        return false;
    }
    // The activation file last: once the bus sees it, the rest is in place.
    if (!installCopy(unitTemplatePath(), unitFilePath(), error)
        || !installCopy(autostartTemplatePath(), autostartEntryPath(), error)
        || !installCopy(activationTemplatePath(), activationFilePath(), error))
        return false;
    reloadBus();

    if (!userManagerRunning()) {
        if (!m_reportedNoUserManager) {
            m_reportedNoUserManager = true;
            pvLog(QStringLiteral("[LoginItems] no systemd user manager runs; the unit is installed but not enabled, "
                                 "the autostart entry and D-Bus activation start the helper"));
        }
        return true;
    }
    return runSystemctl({QStringLiteral("daemon-reload")}, nullptr, error)
        && runSystemctl({QStringLiteral("enable"), unitName()}, nullptr, error);
}

bool XdgLoginItemService::unregisterService(QString *error)
{
    QStringList messages;
    const bool managerRuns = userManagerRunning();
    if (managerRuns && QFileInfo(unitFilePath()).isFile() && !isMaskLink(unitFilePath())) {
        QString message;
        if (!runSystemctl({QStringLiteral("disable"), unitName()}, nullptr, &message))
            messages.append(message);
    }
    QStringList notRemoved;
    removeIfPresent(unitFilePath(), &notRemoved);
    removeIfPresent(autostartEntryPath(), &notRemoved);
    if (removeIfPresent(activationFilePath(), &notRemoved))
        reloadBus();
    if (managerRuns) {
        QString message;
        if (!runSystemctl({QStringLiteral("daemon-reload")}, nullptr, &message))
            messages.append(message);
    }
    if (!notRemoved.isEmpty())
        messages.append(QStringLiteral("cannot remove %1").arg(notRemoved.join(QStringLiteral(", "))));
    if (messages.isEmpty())
        return true;
    *error = messages.join(QStringLiteral("; "));
    return false;
}

QString XdgLoginItemService::startupSettingsProgram() const
{
    struct Candidate {
        const char *desktop;
        const char *program;
    };
    // XDG_CURRENT_DESKTOP names, in the order the desktops are matched.
    static constexpr Candidate candidates[] = {
        {"XFCE", "xfce4-session-settings"},     {"MATE", "mate-session-properties"},
        {"X-Cinnamon", "cinnamon-session-properties"}, {"GNOME", "gnome-session-properties"},
        {"LXQt", "lxqt-config-session"},        {"KDE", "systemsettings"},
    };
    const QStringList desktops = m_options.currentDesktop.split(u':', Qt::SkipEmptyParts);
    for (const QString &desktop : desktops) {
        for (const Candidate &candidate : candidates) {
            if (desktop.compare(QLatin1StringView(candidate.desktop), Qt::CaseInsensitive) != 0)
                continue;
            const QString found = QStandardPaths::findExecutable(QLatin1StringView(candidate.program));
            if (!found.isEmpty())
                return found;
        }
    }
    return {};
}

void XdgLoginItemService::openSystemSettingsLoginItems()
{
    const QString program = startupSettingsProgram();
    if (!program.isEmpty()) {
        // KDE's settings open at the autostart module only when asked.
        const QStringList arguments = QFileInfo(program).fileName() == u"systemsettings"
            ? QStringList{QStringLiteral("kcm_autostart")}
            : QStringList{};
        if (DesktopOpener::startDetached(program, arguments))
            return;
    }
    const QString folder = QFileInfo(autostartEntryPath()).absolutePath();
    QDir().mkpath(folder);
    DesktopOpener::open(m_options.openerProgram, QUrl::fromLocalFile(folder));
}
