#include "ExecutableIdentity.h"

#include "Constants.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace PVIdentity {

namespace {

// Real section-name tables are a few hundred bytes; a larger one is hostile.
constexpr GElf_Xword maxSectionNameTableBytes = 1024 * 1024;

// Peer-supplied text goes into log lines: keep it short and on one line.
QString printableForLog(const QString &text)
{
    constexpr qsizetype maxShown = 80;
    QString shown;
    for (const QChar c : text.left(maxShown))
        shown.append(c.isPrint() ? c : u'?');
    if (text.size() > maxShown)
        shown.append(u"..."_s);
    return u'"' + shown + u'"';
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { if (m_fd >= 0) ::close(m_fd); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
private:
    int m_fd;
};

class ElfHandle {
public:
    explicit ElfHandle(Elf *elf) : m_elf(elf) {}
    ~ElfHandle() { if (m_elf) elf_end(m_elf); }
    ElfHandle(const ElfHandle &) = delete;
    ElfHandle &operator=(const ElfHandle &) = delete;
    Elf *get() const { return m_elf; }
private:
    Elf *m_elf;
};

class PlistHandle {
public:
    PlistHandle() = default;
    ~PlistHandle() { if (m_plist) plist_free(m_plist); }
    PlistHandle(const PlistHandle &) = delete;
    PlistHandle &operator=(const PlistHandle &) = delete;
    plist_t *out() { return &m_plist; }
    plist_t get() const { return m_plist; }
private:
    plist_t m_plist = nullptr;
};

QString elfError()
{
    return QString::fromUtf8(elf_errmsg(-1));
}

} // namespace

std::optional<QByteArray> readElfSection(const QString &filePath, const char *sectionName,
                                         QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<QByteArray> {
        if (error)
            *error = why;
        return std::nullopt;
    };

    if (elf_version(EV_CURRENT) == EV_NONE)
        return fail(u"libelf cannot be initialised: "_s + elfError());

    // O_NONBLOCK so that a FIFO at the path cannot stall us before the
    // regular-file check below.
    const FileDescriptor fd(::open(QFile::encodeName(filePath).constData(),
                                   O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        const int openError = errno;
        return fail(u"cannot open %1: %2"_s.arg(filePath, QString::fromLocal8Bit(std::strerror(openError))));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return fail(u"%1 is not a regular file"_s.arg(filePath));

    // Plain reads rather than a mapping: if the peer truncates its file while
    // we look at it, a mapping would crash us with SIGBUS, a read just fails.
    const ElfHandle elf(elf_begin(fd.get(), ELF_C_READ, nullptr));
    if (!elf.get())
        return fail(u"cannot read %1 as ELF: %2"_s.arg(filePath, elfError()));
    if (elf_kind(elf.get()) != ELF_K_ELF)
        return fail(u"%1 is not an ELF file"_s.arg(filePath));

    size_t nameTableIndex = 0;
    if (elf_getshdrstrndx(elf.get(), &nameTableIndex) != 0)
        return fail(u"%1 has no section name table: %2"_s.arg(filePath, elfError()));
    if (Elf_Scn *nameTable = elf_getscn(elf.get(), nameTableIndex)) {
        GElf_Shdr header {};
        if (!gelf_getshdr(nameTable, &header) || header.sh_size > maxSectionNameTableBytes)
            return fail(u"%1 has an unusable section name table"_s.arg(filePath));
    }

    const QString wanted = QString::fromLatin1(sectionName);
    Elf_Scn *found = nullptr;
    GElf_Shdr foundHeader {};
    for (Elf_Scn *section = elf_nextscn(elf.get(), nullptr); section;
         section = elf_nextscn(elf.get(), section)) {
        GElf_Shdr header {};
        if (!gelf_getshdr(section, &header))
            return fail(u"%1 has a broken section header: %2"_s.arg(filePath, elfError()));
        const char *name = elf_strptr(elf.get(), nameTableIndex, header.sh_name);
        if (!name || std::strcmp(name, sectionName) != 0)
            continue;
        // Two sections of one name would leave it open which one is the identity.
        if (found)
            return fail(u"%1 has more than one %2 section"_s.arg(filePath, wanted));
        found = section;
        foundHeader = header;
    }

    if (!found)
        return fail(u"%1 has no %2 section"_s.arg(filePath, wanted));
    if (foundHeader.sh_type == SHT_NOBITS)
        return fail(u"%1 section of %2 has no contents"_s.arg(wanted, filePath));
    if (foundHeader.sh_size > GElf_Xword(maxInfoPlistBytes))
        return fail(u"%1 section of %2 is too large (%3 bytes)"_s.arg(
            wanted, filePath, QString::number(foundHeader.sh_size)));

    Elf_Data *data = elf_getdata(found, nullptr);
    if (!data)
        return fail(u"cannot read the %1 section of %2: %3"_s.arg(wanted, filePath, elfError()));
    if (data->d_size > size_t(maxInfoPlistBytes) || (data->d_size > 0 && !data->d_buf))
        return fail(u"%1 section of %2 is unreadable"_s.arg(wanted, filePath));
    return QByteArray(static_cast<const char *>(data->d_buf), qsizetype(data->d_size));
}

std::optional<QString> bundleIdentifierFromPlist(const QByteArray &plistBytes, QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<QString> {
        if (error)
            *error = why;
        return std::nullopt;
    };

    QByteArray xml = plistBytes;
    while (xml.endsWith('\0'))
        xml.chop(1);
    if (xml.isEmpty())
        return fail(u"the property list is empty"_s);
    if (xml.size() > maxInfoPlistBytes)
        return fail(u"the property list is too large"_s);

    // Only the XML form is accepted: that is what the executables embed, and
    // it keeps the binary-plist parser out of reach of a hostile peer.
    PlistHandle root;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), root.out());
    if (!root.get())
        return fail(u"the property list cannot be parsed"_s);
    if (plist_get_node_type(root.get()) != PLIST_DICT)
        return fail(u"the property list is not a dictionary"_s);

    const plist_t item = plist_dict_get_item(root.get(), "CFBundleIdentifier");
    if (!item)
        return fail(u"the property list has no CFBundleIdentifier"_s);
    if (plist_get_node_type(item) != PLIST_STRING)
        return fail(u"CFBundleIdentifier is not a string"_s);
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(item, &length);
    if (!text || length == 0)
        return fail(u"CFBundleIdentifier is empty"_s);
    if (length > uint64_t(maxInfoPlistBytes))
        return fail(u"CFBundleIdentifier is too long"_s);
    return QString::fromUtf8(text, qsizetype(length));
}

std::optional<QString> identifierFromRequirement(const QString &requirement)
{
    static const QRegularExpression pattern(uR"re(^\s*identifier\s+"([^"\\]+)"\s*$)re"_s);
    const QRegularExpressionMatch match = pattern.match(requirement);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

std::optional<quint64> startTimeFromStat(const QByteArray &statText)
{
    // "pid (comm) state ppid ..." — comm is whatever the process named
    // itself, so only the last ')' reliably ends it.
    const qsizetype open = statText.indexOf('(');
    const qsizetype close = statText.lastIndexOf(')');
    if (open <= 0 || close < open)
        return std::nullopt;

    // After ')' comes field 3 (state); field 22 is the 20th from there.
    constexpr int firstFieldAfterName = 3;
    constexpr int startTimeField = 22;
    const QList<QByteArray> fields =
        statText.mid(close + 1).simplified().split(' ');
    const int index = startTimeField - firstFieldAfterName;
    if (fields.size() <= index)
        return std::nullopt;

    bool ok = false;
    const quint64 startTime = fields.at(index).toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return startTime;
}

std::optional<quint64> readProcessStartTime(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The line is well under a kilobyte; the cap only guards against surprises.
    return startTimeFromStat(stat.read(4096));
}

PeerCheck checkProcessIdentity(qint64 pid, quint32 uid, const QString &requirement)
{
    return checkProcessIdentity(pid, uid, requirement, readProcessStartTime);
}

PeerCheck checkProcessIdentity(qint64 pid, quint32 uid, const QString &requirement,
                               const StartTimeReader &readStartTime)
{
    const auto refuse = [](const QString &why) { return PeerCheck{false, why}; };

    const std::optional<QString> required = identifierFromRequirement(requirement);
    if (!required)
        return refuse(u"malformed requirement %1"_s.arg(printableForLog(requirement)));

    const uid_t ourUid = ::getuid();
    if (uid != ourUid)
        return refuse(u"peer runs as uid %1, not as our uid %2"_s.arg(uid).arg(ourUid));

    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return refuse(u"invalid process id %1"_s.arg(pid));

    const std::optional<quint64> startedBefore = readStartTime(pid);
    if (!startedBefore)
        return refuse(u"process %1 is gone"_s.arg(pid));

    QString sectionError;
    const std::optional<QByteArray> infoPlist =
        readElfSection(u"/proc/%1/exe"_s.arg(pid), PVBus::infoPlistSection, &sectionError);

    // Whatever we just read must belong to the process we started with.
    const std::optional<quint64> startedAfter = readStartTime(pid);
    if (!startedAfter)
        return refuse(u"process %1 exited during the check"_s.arg(pid));
    if (*startedAfter != *startedBefore)
        return refuse(u"process id %1 was reused during the check"_s.arg(pid));

    if (!infoPlist)
        return refuse(sectionError);

    QString plistError;
    const std::optional<QString> identifier = bundleIdentifierFromPlist(*infoPlist, &plistError);
    if (!identifier)
        return refuse(u"process %1: %2"_s.arg(pid).arg(plistError));

    if (*identifier != *required)
        return refuse(u"process %1 is %2, required %3"_s.arg(pid)
                          .arg(printableForLog(*identifier), printableForLog(*required)));
    return PeerCheck{true, QString()};
}

} // namespace PVIdentity
