#include "SerialQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

SerialQueue::SerialQueue(const QString &label)
    : m_context(new QObject)
{
    m_thread.setObjectName(label);
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
}

SerialQueue::~SerialQueue()
{
    m_thread.quit();
    m_thread.wait();
}

void SerialQueue::async(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
}

void dispatchToMain(std::function<void()> work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}
