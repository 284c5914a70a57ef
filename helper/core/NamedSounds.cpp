#include "NamedSounds.h"

#include <QDir>
#include <QFileInfo>

NamedSounds::NamedSounds(QString soundFolder, std::unique_ptr<SoundOutputInterface> output)
    : m_soundFolder(std::move(soundFolder))
    , m_output(std::move(output))
{
}

QString NamedSounds::fileFor(const QString &name) const
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0)) || m_soundFolder.isEmpty())
        return {};
    const QFileInfo file(QDir(m_soundFolder).filePath(name + QLatin1String(fileSuffix)));
    return file.isFile() ? file.absoluteFilePath() : QString();
}

void NamedSounds::play(const QString &name)
{
    const QString file = fileFor(name);
    if (!file.isEmpty() && m_output)
        m_output->start(file, name);
}
