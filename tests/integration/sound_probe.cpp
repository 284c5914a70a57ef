// sound_probe FOLDER NAME...: plays each name from FOLDER through the real
// libcanberra output, one after another, and prints "NAME RESULT" with
// libcanberra's result (or "NAME missing"). Lingers so the sound device
// receives every sample before the process ends.
#include "CanberraSoundOutput.h"
#include "NamedSounds.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 3)
        return 2;

    auto *output = new CanberraSoundOutput;
    NamedSounds sounds(arguments.at(1), std::unique_ptr<SoundOutputInterface>(output));
    for (const QString &name : arguments.mid(2)) {
        if (sounds.fileFor(name).isEmpty()) {
            sounds.play(name);
            std::printf("%s missing\n", qPrintable(name));
            continue;
        }
        sounds.play(name);
        std::printf("%s %d\n", qPrintable(name), output->waitUntilHandedOver());
        std::fflush(stdout);
        QThread::msleep(1200);
    }
    return 0;
}
