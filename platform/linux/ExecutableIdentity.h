// Who is on the other end of the bus: the identity a peer process carries
// in its executable (an Info.plist in an ELF section), checked against a
// requirement text such as  identifier "com.zelquor.Paneveil.helper".
// Pure Linux plumbing; the caller supplies the pid and uid it got from the bus.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace PVIdentity {

// An Info.plist is a few hundred bytes; refusing anything larger keeps a
// hostile executable from making us allocate or parse much.
inline constexpr qsizetype maxInfoPlistBytes = 64 * 1024;

// Bytes of the section called sectionName in the ELF file at filePath,
// exactly as stored. On failure returns nullopt and, if error is given,
// a short reason.
std::optional<QByteArray> readElfSection(const QString &filePath, const char *sectionName,
                                         QString *error = nullptr);

// CFBundleIdentifier of an XML property list whose root is a dictionary.
// Trailing NUL padding (as left by a C string in a section) is ignored.
std::optional<QString> bundleIdentifierFromPlist(const QByteArray &plistBytes,
                                                 QString *error = nullptr);

// The X of a requirement that is exactly  identifier "X"  (X non-empty, no
// quotes or backslashes in it, nothing else but surrounding white space).
std::optional<QString> identifierFromRequirement(const QString &requirement);

// Start time (field 22, clock ticks since boot) from the text of
// /proc/PID/stat. Fields are counted from the last ')' since the command
// name may itself contain spaces and parentheses.
std::optional<quint64> startTimeFromStat(const QByteArray &statText);

// Start time of a live process, or nullopt when it is gone or unreadable.
std::optional<quint64> readProcessStartTime(qint64 pid);

struct PeerCheck {
    bool accepted = false;
    QString reason; // why it was refused; empty when accepted
};

using StartTimeReader = std::function<std::optional<quint64>(qint64 pid)>;

// Accepts the process pid running as uid only if uid is ours and the
// .info_plist section of its executable names the identifier the requirement
// asks for. The start time is read before and after the executable so that a
// process id reused in between is refused.
PeerCheck checkProcessIdentity(qint64 pid, quint32 uid, const QString &requirement);

// Same check with the start-time reader supplied by the caller (for tests that
// need the process to change under the check).
PeerCheck checkProcessIdentity(qint64 pid, quint32 uid, const QString &requirement,
                               const StartTimeReader &readStartTime);

} // namespace PVIdentity
