#include "CanberraSoundOutput.h"

#include "Constants.h"
#include "Log.h"

#include <QMetaObject>
#include <QObject>

#include <canberra.h>

class CanberraSoundOutput::Worker final : public QObject {
public:
    ~Worker() override
    {
        if (m_context)
            ca_context_destroy(m_context);
    }

    // Runs on the output's thread.
    void play(const QString &filePath, const QString &name)
    {
        int result = CA_SUCCESS;
        if (!m_context) {
            // Created on first use and kept; a failed creation is retried.
            result = ca_context_create(&m_context);
            if (result == CA_SUCCESS)
                ca_context_change_props(m_context, CA_PROP_APPLICATION_ID, PVConstants::helperBundleID, nullptr);
            else
                m_context = nullptr;
        }
        if (m_context) {
            const QByteArray file = filePath.toUtf8();
            const QByteArray description = name.toUtf8();
            // Not ca_context_play_full: nothing here waits for the end.
            result = ca_context_play(m_context, 0, CA_PROP_MEDIA_FILENAME, file.constData(), CA_PROP_EVENT_DESCRIPTION,
                                     description.constData(), CA_PROP_MEDIA_ROLE, "event", nullptr);
        }
        lastResult = result;
        // One line for a failure, and not again while the same one repeats
        // (a machine without sound would log it on every lock otherwise).
        if (result != CA_SUCCESS && result != m_previousResult)
            pvLog(QString::fromLatin1(logPrefix)
                  + QStringLiteral("sound %1 not played: %2").arg(name, QString::fromUtf8(ca_strerror(result))));
        m_previousResult = result;
    }

    int lastResult = CA_SUCCESS;

private:
    ca_context *m_context = nullptr;
    int m_previousResult = CA_SUCCESS;
};

CanberraSoundOutput::CanberraSoundOutput()
    : m_worker(new Worker)
{
    m_thread.setObjectName(QStringLiteral("sounds"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

CanberraSoundOutput::~CanberraSoundOutput()
{
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void CanberraSoundOutput::start(const QString &filePath, const QString &name)
{
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, filePath, name] { worker->play(filePath, name); }, Qt::QueuedConnection);
}

int CanberraSoundOutput::waitUntilHandedOver()
{
    int result = CA_SUCCESS;
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, &result] { result = worker->lastResult; }, Qt::BlockingQueuedConnection);
    return result;
}

QString installedSoundFolder()
{
    return QString::fromUtf8(PANEVEIL_SOUND_DIR);
}

std::unique_ptr<SoundInterface> makeInstalledSounds()
{
    return std::make_unique<NamedSounds>(installedSoundFolder(), std::make_unique<CanberraSoundOutput>());
}
