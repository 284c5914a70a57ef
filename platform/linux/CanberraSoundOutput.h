// Plays sound files through libcanberra (which reaches PulseAudio,
// PipeWire or ALSA, whichever the machine has). Every request goes to a
// thread of its own, because opening the sound server or starting a stream
// may wait on the server; the caller's thread never does.
#pragma once

#include "NamedSounds.h"

#include <QThread>

#include <memory>

class CanberraSoundOutput final : public SoundOutputInterface {
public:
    static constexpr const char logPrefix[] = "[PaneveilHelper] ";

    CanberraSoundOutput();
    ~CanberraSoundOutput() override;
    CanberraSoundOutput(const CanberraSoundOutput &) = delete;
    CanberraSoundOutput &operator=(const CanberraSoundOutput &) = delete;

    void start(const QString &filePath, const QString &name) override;

    // Waits until every sound started so far has been handed to libcanberra
    // and answers the result of the last one (0, or a CA_ERROR_* value).
    int waitUntilHandedOver();

private:
    class Worker;
    QThread m_thread;
    Worker *m_worker = nullptr;
};

// The helper's sounds as installed with it: the generated files in the
// folder fixed when the build was configured, played through libcanberra.
QString installedSoundFolder();
std::unique_ptr<SoundInterface> makeInstalledSounds();
