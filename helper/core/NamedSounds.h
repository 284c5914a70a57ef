// The lock and unlock sounds: a name ("Tink", "Glass") stands for a file of
// the same name in the installed sound folder. A name without a file is
// silent; so is a machine without a sound server.
#pragma once

#include "LockComponents.h"

#include <QString>

#include <memory>

// Starts playing a sound file and returns at once; never waits for the end
// and never reports back. Failures are the output's own business.
class SoundOutputInterface {
public:
    virtual ~SoundOutputInterface() = default;
    virtual void start(const QString &filePath, const QString &name) = 0;
};

class NamedSounds final : public SoundInterface {
public:
    static constexpr const char fileSuffix[] = ".wav";

    NamedSounds(QString soundFolder, std::unique_ptr<SoundOutputInterface> output);

    void play(const QString &name) override;

    // The existing file a name stands for, or empty. Only plain names
    // resolve, so no name reaches outside the folder.
    QString fileFor(const QString &name) const;

private:
    const QString m_soundFolder;
    const std::unique_ptr<SoundOutputInterface> m_output;
};
