// relay(): a worker's signals reach their receiver on its own thread, in
// order, with what they carried when sent, and never once it is gone.
#include "HandOver.h"

#include <QThread>
#include <QtTest>
#include <atomic>

class Speaker : public QObject {
    Q_OBJECT
public:
    void sayMany(int count)
    {
        QVector<int> words;
        for (int n = 1; n <= count; ++n) {
            words.append(n);
            Q_EMIT said(n, words);
        }
    }
Q_SIGNALS:
    void said(int n, const QVector<int>& words);
};

class Listener : public QObject {
    Q_OBJECT
public:
    void hear(int n, const QVector<int>& words)
    {
        if (QThread::currentThread() != thread() || words.size() != n || words.last() != n)
            ++wrong;
        heard.append(n);
    }
    QVector<int> heard;
    int wrong = 0;
};

class TestHandOver : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void inOrderOnTheReceiversThread();
    void atOnceOnTheSameThread();
    void nothingReachesAReceiverThatIsGone();
};

void TestHandOver::inOrderOnTheReceiversThread()
{
    QThread thread;
    auto* speaker = new Speaker;
    speaker->moveToThread(&thread);
    Listener listener;
    relay(speaker, &Speaker::said, &listener, &Listener::hear);
    thread.start();
    postTo(speaker, [speaker] { speaker->sayMany(200); });
    QTRY_COMPARE(listener.heard.size(), 200);
    QCOMPARE(listener.wrong, 0);
    for (int n = 1; n <= 200; ++n)
        QCOMPARE(listener.heard.at(n - 1), n);
    runAndWait(speaker, [speaker] { delete speaker; });
    thread.quit();
    thread.wait();
}

void TestHandOver::atOnceOnTheSameThread()
{
    Speaker speaker;
    Listener listener;
    relay(&speaker, &Speaker::said, &listener,
          [&listener](int n, const QVector<int>& words) { listener.hear(n, words); });
    speaker.sayMany(3);
    QCOMPARE(listener.heard, (QVector<int>{1, 2, 3})); // before any event loop turn
}

void TestHandOver::nothingReachesAReceiverThatIsGone()
{
    // The worker goes on after its receiver is destroyed, as a reader left to
    // finish a request does; under the address checker a post to the dead
    // object would fail the test.
    QThread thread;
    auto* speaker = new Speaker;
    speaker->moveToThread(&thread);
    auto* listener = new Listener;
    std::atomic<int> delivered{0};
    relay(speaker, &Speaker::said, listener, [listener, &delivered](int n, const QVector<int>& words) {
        listener->hear(n, words);
        ++delivered;
    });
    thread.start();
    postTo(speaker, [speaker] { speaker->sayMany(20000); });
    QTRY_VERIFY(delivered > 0);
    delete listener;
    const int before = delivered;
    runAndWait(speaker, [speaker] { delete speaker; }); // the worker has said all by now
    QCoreApplication::processEvents();
    QCOMPARE(delivered.load(), before);
    thread.quit();
    thread.wait();
}

QTEST_GUILESS_MAIN(TestHandOver)
#include "tst_handover.moc"
