#include "LeftThreads.h"

#include <QCoreApplication>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QThread>

namespace {
QMutex mutex;

QList<QPointer<QThread>>& leftThreads()
{
    static QList<QPointer<QThread>> threads;
    return threads;
}

void waitForLeftThreads()
{
    QList<QPointer<QThread>> threads;
    {
        QMutexLocker lock(&mutex);
        threads = leftThreads();
    }
    for (const QPointer<QThread>& thread : threads)
        if (thread)
            thread->wait();
}
} // namespace

void leaveThreadToFinish(QThread* thread)
{
    static const bool waitAtExit = [] {
        qAddPostRoutine(waitForLeftThreads);
        return true;
    }();
    Q_UNUSED(waitAtExit);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->quit();
    QMutexLocker lock(&mutex);
    leftThreads().removeAll(nullptr);
    leftThreads().append(thread);
}
