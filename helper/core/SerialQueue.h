// A private serial queue: one thread with its own event loop; work submitted
// with async() runs there one item at a time, in submission order.
#pragma once

#include <QString>
#include <QThread>

#include <functional>

class SerialQueue {
public:
    explicit SerialQueue(const QString &label);
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    void async(std::function<void()> work);
    QString label() const { return m_thread.objectName(); }
    bool isCurrent() const { return QThread::currentThread() == &m_thread; }

private:
    QThread m_thread;
    QObject *m_context;
};

// Submits work to the main thread's event loop, even when already on it.
void dispatchToMain(std::function<void()> work);
