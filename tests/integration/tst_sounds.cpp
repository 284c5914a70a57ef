// The installed lock and unlock sounds: both names resolve to files that
// decode to audible sound, libcanberra plays them sample for sample into an
// ALSA device, and a machine without any sound device stays silent.
#include "CanberraSoundOutput.h"
#include "LockManager.h"
#include "NamedSounds.h"
#include "TestSession.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString probe()
{
    return QDir(QString::fromLocal8Bit(qgetenv("PANEVEIL_BUILD_DIR"))).filePath(QStringLiteral("tests/integration/sound_probe"));
}

QString installedFile(const QString &name)
{
    return NamedSounds(installedSoundFolder(), nullptr).fileFor(name);
}

double statValue(const QString &statOutput, const QString &label)
{
    const QRegularExpression line(QRegularExpression::escape(label) + QStringLiteral(":\\s*(\\S+)"));
    const auto match = line.match(statOutput);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

// The samples of a canonical 44-byte-header PCM WAV file.
QByteArray pcmSamples(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 44 || bytes.mid(36, 4) != "data")
        return {};
    return bytes.mid(44);
}

QProcessEnvironment withHome(const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    // libcanberra would pick a sound-server backend first where one exists.
    environment.insert(QStringLiteral("CANBERRA_DRIVER"), QStringLiteral("alsa"));
    return environment;
}

QStringList ourLogLines(const QString &stderrText)
{
    QStringList lines;
    for (const QString &line : stderrText.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String(CanberraSoundOutput::logPrefix)))
            lines << line;
    return lines;
}

} // namespace

class TestSounds : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void installedSoundsDecode_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("lock") << QString::fromLatin1(LockManager::lockSound);
        QTest::newRow("unlock") << QString::fromLatin1(LockManager::unlockSound);
    }
    void installedSoundsDecode()
    {
        QFETCH(QString, name);
        const QString file = installedFile(name);
        QVERIFY2(!file.isEmpty(), qPrintable(name + QStringLiteral(" is not installed in ") + installedSoundFolder()));

        const RunResult type = runProgram(QStringLiteral("soxi"), {QStringLiteral("-t"), file},
                                          QProcessEnvironment::systemEnvironment());
        QCOMPARE(type.exitCode, 0);
        QCOMPARE(type.out.trimmed(), QStringLiteral("wav"));

        // sox reads every sample to compute these.
        const RunResult stat = runProgram(QStringLiteral("sox"), {file, QStringLiteral("-n"), QStringLiteral("stat")},
                                          QProcessEnvironment::systemEnvironment());
        QCOMPARE(stat.exitCode, 0);
        const double seconds = statValue(stat.err, QStringLiteral("Length (seconds)"));
        QVERIFY2(seconds >= 0.05 && seconds <= 2.0, qPrintable(stat.err));
        const double loudest = std::max(statValue(stat.err, QStringLiteral("Maximum amplitude")),
                                        -statValue(stat.err, QStringLiteral("Minimum amplitude")));
        QVERIFY2(loudest >= 0.25 && loudest < 1.0, qPrintable(stat.err)); // audible, not clipped
    }

    // An ALSA default device that writes what it is given to a file.
    void playsEverySampleThroughTheDevice()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString captured = home.filePath(QStringLiteral("captured.raw"));
        QFile config(home.filePath(QStringLiteral(".asoundrc")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"%1\"\n  format \"raw\"\n}\n")
                         .arg(captured)
                         .toUtf8());
        config.close();

        const QString name = QString::fromLatin1(LockManager::unlockSound);
        const RunResult run = runProgram(probe(), {installedSoundFolder(), name}, withHome(home.path()));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, name + QStringLiteral(" 0\n"));
        QVERIFY2(ourLogLines(run.err).isEmpty(), qPrintable(run.err));

        QFile output(captured);
        QVERIFY(output.open(QIODevice::ReadOnly));
        const QByteArray expected = pcmSamples(installedFile(name));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(output.readAll(), expected);
    }

    // No sound card at all: nothing crashes, each sound is handed over and
    // fails, and the repeated failure is logged once.
    void noSoundDeviceIsSilent()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString lock = QString::fromLatin1(LockManager::lockSound);
        const QString missing = QStringLiteral("Sosumi");
        const RunResult run = runProgram(probe(), {installedSoundFolder(), lock, missing, lock}, withHome(home.path()));
        QCOMPARE(run.exitCode, 0);
        const QStringList results = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(results.size(), 3);
        QVERIFY2(results.at(0).startsWith(lock + QLatin1Char(' ')) && !results.at(0).endsWith(QStringLiteral(" 0")),
                 qPrintable(run.out));
        QCOMPARE(results.at(1), missing + QStringLiteral(" missing"));
        QCOMPARE(results.at(2), results.at(0));
        const QStringList logged = ourLogLines(run.err);
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged.first().startsWith(QStringLiteral("[PaneveilHelper] sound Tink not played: ")), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestSounds)
#include "tst_sounds.moc"
