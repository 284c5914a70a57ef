// Sound names resolve to files in one folder and nowhere else; a name
// without a file plays nothing.
#include "LockManager.h"
#include "NamedSounds.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct RecordingOutput final : SoundOutputInterface {
    QStringList files;
    QStringList names;
    void start(const QString &filePath, const QString &name) override
    {
        files << filePath;
        names << name;
    }
};

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("RIFF") == 4;
}

} // namespace

class TestNamedSounds : public QObject {
    Q_OBJECT

private:
    QTemporaryDir root;
    QString folder;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("sounds/Folder.wav")));
        folder = root.filePath(QStringLiteral("sounds"));
        QVERIFY(touch(folder + QStringLiteral("/Tink.wav")));
        QVERIFY(touch(folder + QStringLiteral("/Glass.wav")));
        // Beside the folder, where no name may reach.
        QVERIFY(touch(root.filePath(QStringLiteral("Outside.wav"))));
        QVERIFY(touch(folder + QStringLiteral("/.hidden.wav")));
    }

    void playsTheFileOfTheName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("lock") << QString::fromLatin1(LockManager::lockSound);
        QTest::newRow("unlock") << QString::fromLatin1(LockManager::unlockSound);
    }
    void playsTheFileOfTheName()
    {
        QFETCH(QString, name);
        auto *output = new RecordingOutput;
        NamedSounds sounds(folder, std::unique_ptr<SoundOutputInterface>(output));
        sounds.play(name);
        QCOMPARE(output->files, QStringList{QDir(folder).absoluteFilePath(name + QStringLiteral(".wav"))});
        QCOMPARE(output->names, QStringList{name});
    }

    void unknownOrUnsafeNamesAreSilent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << QStringLiteral("Sosumi");
        QTest::newRow("empty") << QString();
        QTest::newRow("parent folder") << QStringLiteral("../Outside");
        QTest::newRow("absolute") << root.filePath(QStringLiteral("Outside"));
        QTest::newRow("hidden") << QStringLiteral(".hidden");
        QTest::newRow("a folder, not a file") << QStringLiteral("Folder");
        QTest::newRow("embedded NUL") << QStringLiteral("Tink") + QChar(0) + QStringLiteral("x");
    }
    void unknownOrUnsafeNamesAreSilent()
    {
        QFETCH(QString, name);
        auto *output = new RecordingOutput;
        NamedSounds sounds(folder, std::unique_ptr<SoundOutputInterface>(output));
        sounds.play(name);
        QVERIFY(output->files.isEmpty());
    }

    void aMissingFolderIsSilent()
    {
        auto *output = new RecordingOutput;
        NamedSounds sounds(root.filePath(QStringLiteral("absent")), std::unique_ptr<SoundOutputInterface>(output));
        sounds.play(QString::fromLatin1(LockManager::lockSound));
        QVERIFY(output->files.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNamedSounds)
#include "tst_namedsounds.moc"
