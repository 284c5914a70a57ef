#include "Constants.h"
#include "ExecutableIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <plist/plist.h>

#include <limits>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString helperProbe = QString::fromUtf8(IDENTITY_PROBE_HELPER_ID);
const QString appProbe = QString::fromUtf8(IDENTITY_PROBE_APP_ID);
const QString probeWithoutSection = QString::fromUtf8(IDENTITY_PROBE_WITHOUT_SECTION);
const QString probeWithOversizedSection = QString::fromUtf8(IDENTITY_PROBE_OVERSIZED_SECTION);

const QString helperRequirement = QString::fromLatin1(PVConstants::helperCodeSigningRequirement);
const QString appRequirement = QString::fromLatin1(PVConstants::appCodeSigningRequirement);

// A probe process that lives until its standard input is closed.
class Probe {
public:
    explicit Probe(const QString &program) { m_process.start(program, {}); }
    ~Probe() { stop(); }
    bool started() { return m_process.waitForStarted(10000); }
    qint64 pid() const { return m_process.processId(); }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    QProcess m_process;
};

QByteArray infoPlist(const QByteArray &dictBody)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        + dictBody + "</dict>\n</plist>\n";
}

QByteArray binaryPlistWithIdentifier(const char *identifier)
{
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_string(identifier));
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    plist_free(dict);
    return result;
}

// A /proc/PID/stat line whose fields after the name hold their own number
// times 1000, except field 22 which holds startTime.
QByteArray statLine(const QByteArray &comm, const QByteArray &startTime, int lastField = 52)
{
    QByteArray line = "4242 (" + comm + ") S";
    for (int field = 4; field <= lastField; ++field)
        line += ' ' + (field == 22 ? startTime : QByteArray::number(field * 1000));
    return line + '\n';
}

} // namespace

class TestExecutableIdentity : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void requirementParsing_data();
    void requirementParsing();

    void startTimeFromStat_data();
    void startTimeFromStat();
    void startTimeOfLiveProcesses();

    void bundleIdentifierFromPlist_data();
    void bundleIdentifierFromPlist();

    void sectionReading_data();
    void sectionReading();

    void checkOnLiveProcess_data();
    void checkOnLiveProcess();
    void checkRefusesVanishedProcess();
    void checkRefusesInvalidPid_data();
    void checkRefusesInvalidPid();
    void checkWhenProcessChangesDuringCheck_data();
    void checkWhenProcessChangesDuringCheck();

private:
    QTemporaryDir m_scratch;
};

void TestExecutableIdentity::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QFile text(m_scratch.filePath(u"not-elf.txt"_s));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("#!/bin/sh\necho this is a script, not an ELF file\n");
    text.close();
    QFile empty(m_scratch.filePath(u"empty"_s));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    // Looks like ELF for the first bytes only.
    QFile truncated(m_scratch.filePath(u"truncated-elf"_s));
    QVERIFY(truncated.open(QIODevice::WriteOnly));
    truncated.write(QByteArray("\x7f" "ELF\x02\x01\x01", 7));
    truncated.close();
}

void TestExecutableIdentity::requirementParsing_data()
{
    QTest::addColumn<QString>("requirement");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("identifier");

    QTest::newRow("app requirement") << appRequirement << true
                                     << QString::fromLatin1(PVConstants::appBundleID);
    QTest::newRow("helper requirement") << helperRequirement << true
                                        << QString::fromLatin1(PVConstants::helperBundleID);
    QTest::newRow("surrounding white space") << u"  identifier \"a.b\"\n"_s << true << u"a.b"_s;
    QTest::newRow("missing quotes") << u"identifier com.zelquor.Paneveil"_s << false << QString();
    QTest::newRow("unterminated quote") << u"identifier \"com.zelquor.Paneveil"_s << false << QString();
    QTest::newRow("extra clause") << u"identifier \"com.zelquor.Paneveil\" and anchor apple"_s
                                  << false << QString();
    QTest::newRow("two identifiers") << u"identifier \"a\" identifier \"b\""_s << false << QString();
    QTest::newRow("empty identifier") << u"identifier \"\""_s << false << QString();
    QTest::newRow("no keyword") << u"\"com.zelquor.Paneveil\""_s << false << QString();
    QTest::newRow("keyword glued to quote") << u"identifier\"a.b\""_s << false << QString();
    QTest::newRow("escaped quote inside") << u"identifier \"a\\\"b\""_s << false << QString();
    QTest::newRow("empty text") << QString() << false << QString();
}

void TestExecutableIdentity::requirementParsing()
{
    QFETCH(QString, requirement);
    QFETCH(bool, valid);
    QFETCH(QString, identifier);

    const std::optional<QString> parsed = PVIdentity::identifierFromRequirement(requirement);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, identifier);
}

void TestExecutableIdentity::startTimeFromStat_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("startTime");

    QTest::newRow("plain name") << statLine("probe", "987654") << true << quint64(987654);
    QTest::newRow("name with ') (' and spaces") << statLine("a) (b c", "987654") << true
                                                << quint64(987654);
    QTest::newRow("name that fakes the following fields")
        << statLine("x) R 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19", "987654") << true
        << quint64(987654);
    QTest::newRow("name is a lone ')'") << statLine(")", "987654") << true << quint64(987654);
    QTest::newRow("empty name") << statLine("", "0") << true << quint64(0);
    QTest::newRow("largest start time") << statLine("probe", "18446744073709551615") << true
                                        << quint64(18446744073709551615ULL);
    QTest::newRow("ends before field 22") << statLine("probe", "987654", 21) << false << quint64(0);
    QTest::newRow("start time not a number") << statLine("probe", "12ab") << false << quint64(0);
    QTest::newRow("negative start time") << statLine("probe", "-5") << false << quint64(0);
    QTest::newRow("no parentheses") << QByteArray("4242 probe S 1 2 3") << false << quint64(0);
    QTest::newRow("closing before opening") << QByteArray("4242 ) probe ( S") << false << quint64(0);
    QTest::newRow("empty") << QByteArray() << false << quint64(0);
}

void TestExecutableIdentity::startTimeFromStat()
{
    QFETCH(QByteArray, stat);
    QFETCH(bool, valid);
    QFETCH(quint64, startTime);

    const std::optional<quint64> parsed = PVIdentity::startTimeFromStat(stat);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, startTime);
}

void TestExecutableIdentity::startTimeOfLiveProcesses()
{
    const qint64 ourPid = QCoreApplication::applicationPid();
    const std::optional<quint64> ours = PVIdentity::readProcessStartTime(ourPid);
    QVERIFY(ours.has_value());
    QCOMPARE(PVIdentity::readProcessStartTime(ourPid), ours);

    // A process started after us cannot have started earlier; the wrong
    // field would not keep to that.
    Probe probe(probeWithoutSection);
    QVERIFY(probe.started());
    const std::optional<quint64> probes = PVIdentity::readProcessStartTime(probe.pid());
    QVERIFY(probes.has_value());
    QVERIFY2(*probes >= *ours, qPrintable(u"probe %1, test %2"_s.arg(*probes).arg(*ours)));
}

void TestExecutableIdentity::bundleIdentifierFromPlist_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("identifier");

    const QByteArray helperPlist = infoPlist(
        "<key>CFBundleIdentifier</key><string>" + QByteArray(PVConstants::helperBundleID) + "</string>\n");

    QTest::newRow("identifier only") << helperPlist << true
                                     << QString::fromLatin1(PVConstants::helperBundleID);
    QTest::newRow("trailing NUL padding") << helperPlist + QByteArray(16, '\0') << true
                                          << QString::fromLatin1(PVConstants::helperBundleID);
    QTest::newRow("among other keys")
        << infoPlist("<key>CFBundleName</key><string>Paneveil</string>\n"
                     "<key>CFBundleIdentifier</key><string>a.b.c</string>\n"
                     "<key>CFBundleVersion</key><string>1</string>\n")
        << true << u"a.b.c"_s;
    QTest::newRow("non-ASCII identifier")
        << infoPlist("<key>CFBundleIdentifier</key><string>caf\xc3\xa9</string>\n") << true
        << u"caf\u00e9"_s;
    QTest::newRow("key missing")
        << infoPlist("<key>CFBundleName</key><string>Paneveil</string>\n") << false << QString();
    QTest::newRow("identifier is a number")
        << infoPlist("<key>CFBundleIdentifier</key><integer>7</integer>\n") << false << QString();
    QTest::newRow("identifier is empty")
        << infoPlist("<key>CFBundleIdentifier</key><string></string>\n") << false << QString();
    QTest::newRow("root is an array")
        << QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                      "<string>com.zelquor.Paneveil</string></array></plist>")
        << false << QString();
    QTest::newRow("cut short") << helperPlist.left(helperPlist.size() / 2) << false << QString();
    QTest::newRow("not XML") << QByteArray("CFBundleIdentifier=com.zelquor.Paneveil") << false
                             << QString();
    QTest::newRow("only NUL bytes") << QByteArray(32, '\0') << false << QString();
    QTest::newRow("empty") << QByteArray() << false << QString();
    // Only the XML form is embedded, so the binary form is refused.
    QTest::newRow("binary property list")
        << binaryPlistWithIdentifier(PVConstants::helperBundleID) << false << QString();
}

void TestExecutableIdentity::bundleIdentifierFromPlist()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QFETCH(QString, identifier);

    QString error;
    const std::optional<QString> parsed = PVIdentity::bundleIdentifierFromPlist(bytes, &error);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(*parsed, identifier);
    } else {
        QVERIFY(!error.isEmpty());
    }
}

void TestExecutableIdentity::sectionReading_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("errorHint");

    QTest::newRow("section present") << helperProbe << true << QString();
    QTest::newRow("section absent") << probeWithoutSection << false << u"no .info_plist section"_s;
    QTest::newRow("section over the size cap") << probeWithOversizedSection << false
                                               << u"too large"_s;
    QTest::newRow("not an ELF file") << m_scratch.filePath(u"not-elf.txt"_s) << false
                                     << u"not an ELF file"_s;
    QTest::newRow("empty file") << m_scratch.filePath(u"empty"_s) << false << u"ELF"_s;
    QTest::newRow("ELF header cut short") << m_scratch.filePath(u"truncated-elf"_s) << false
                                          << u"ELF"_s;
    QTest::newRow("nonexistent file") << m_scratch.filePath(u"no-such-file"_s) << false
                                      << u"cannot open"_s;
    QTest::newRow("directory") << m_scratch.path() << false << u"not a regular file"_s;
}

void TestExecutableIdentity::sectionReading()
{
    QFETCH(QString, path);
    QFETCH(bool, found);
    QFETCH(QString, errorHint);

    QString error;
    const std::optional<QByteArray> bytes =
        PVIdentity::readElfSection(path, PVBus::infoPlistSection, &error);
    QCOMPARE(bytes.has_value(), found);
    if (found) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // Returned as stored, padding included; the plist reader drops it.
        QVERIFY(bytes->endsWith('\0'));
        QCOMPARE(PVIdentity::bundleIdentifierFromPlist(*bytes),
                 std::optional<QString>(QString::fromLatin1(PVConstants::helperBundleID)));
    } else {
        QVERIFY2(error.contains(errorHint), qPrintable(error));
    }
}

void TestExecutableIdentity::checkOnLiveProcess_data()
{
    QTest::addColumn<QString>("probe");
    QTest::addColumn<QString>("requirement");
    QTest::addColumn<bool>("asAnotherUser");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("helper matches helper requirement") << helperProbe << helperRequirement << false
                                                       << true;
    QTest::newRow("app matches app requirement") << appProbe << appRequirement << false << true;
    // The app's identifier is a prefix of the helper's; neither may pass for the other.
    QTest::newRow("helper against app requirement") << helperProbe << appRequirement << false
                                                    << false;
    QTest::newRow("app against helper requirement") << appProbe << helperRequirement << false
                                                    << false;
    QTest::newRow("no identity section") << probeWithoutSection << helperRequirement << false
                                         << false;
    QTest::newRow("oversized identity section") << probeWithOversizedSection << helperRequirement
                                                << false << false;
    QTest::newRow("right identity, another user") << helperProbe << helperRequirement << true
                                                  << false;
    QTest::newRow("malformed requirement") << helperProbe << u"identifier com.zelquor.Paneveil.helper"_s
                                           << false << false;
}

void TestExecutableIdentity::checkOnLiveProcess()
{
    QFETCH(QString, probe);
    QFETCH(QString, requirement);
    QFETCH(bool, asAnotherUser);
    QFETCH(bool, accepted);

    Probe process(probe);
    QVERIFY(process.started());
    const quint32 uid = asAnotherUser ? ::getuid() + 1 : ::getuid();

    const PVIdentity::PeerCheck check =
        PVIdentity::checkProcessIdentity(process.pid(), uid, requirement);
    QVERIFY2(check.accepted == accepted, qPrintable(check.reason));
    QCOMPARE(check.reason.isEmpty(), accepted);
}

void TestExecutableIdentity::checkRefusesVanishedProcess()
{
    Probe process(helperProbe);
    QVERIFY(process.started());
    const qint64 pid = process.pid();
    QVERIFY(PVIdentity::checkProcessIdentity(pid, ::getuid(), helperRequirement).accepted);

    process.stop();
    const PVIdentity::PeerCheck check = PVIdentity::checkProcessIdentity(pid, ::getuid(), helperRequirement);
    QVERIFY(!check.accepted);
    QVERIFY(!check.reason.isEmpty());
}

void TestExecutableIdentity::checkRefusesInvalidPid_data()
{
    QTest::addColumn<qint64>("pid");

    QTest::newRow("zero") << qint64(0);
    QTest::newRow("negative") << qint64(-1);
    QTest::newRow("beyond pid_t") << qint64(std::numeric_limits<pid_t>::max()) + 1;
}

void TestExecutableIdentity::checkRefusesInvalidPid()
{
    QFETCH(qint64, pid);

    const PVIdentity::PeerCheck check = PVIdentity::checkProcessIdentity(pid, ::getuid(), helperRequirement);
    QVERIFY(!check.accepted);
    QVERIFY(!check.reason.isEmpty());
}

void TestExecutableIdentity::checkWhenProcessChangesDuringCheck_data()
{
    QTest::addColumn<bool>("goneOnSecondRead");
    QTest::addColumn<quint64>("startTimeShift");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("same process throughout") << false << quint64(0) << true;
    QTest::newRow("pid reused: start time changed") << false << quint64(1) << false;
    QTest::newRow("process gone after the executable was read") << true << quint64(0) << false;
}

void TestExecutableIdentity::checkWhenProcessChangesDuringCheck()
{
    QFETCH(bool, goneOnSecondRead);
    QFETCH(quint64, startTimeShift);
    QFETCH(bool, accepted);

    Probe process(helperProbe);
    QVERIFY(process.started());

    int reads = 0;
    const auto reader = [&](qint64 pid) -> std::optional<quint64> {
        ++reads;
        const std::optional<quint64> real = PVIdentity::readProcessStartTime(pid);
        if (reads == 1 || !real)
            return real;
        if (goneOnSecondRead)
            return std::nullopt;
        return *real + startTimeShift;
    };

    const PVIdentity::PeerCheck check =
        PVIdentity::checkProcessIdentity(process.pid(), ::getuid(), helperRequirement, reader);
    QCOMPARE(reads, 2);
    QVERIFY2(check.accepted == accepted, qPrintable(check.reason));
    QCOMPARE(check.reason.isEmpty(), accepted);
}

QTEST_GUILESS_MAIN(TestExecutableIdentity)
#include "tst_executableidentity.moc"
