#pragma once
#include "Modbus485.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <atomic>
#include <deque>

// A recording stand-in for the Modbus library. It behaves like a small
// instrument (register and bit tables that reads return and writes change),
// records every call with its arguments as text ("Set_4X_D1(3,7,1,9999)"),
// and can be told to fail calls. Thread-safe, so a threaded LinkClient can
// use it while the test inspects it.
class FakeModbus485 final : public Modbus485 {
public:
    int OpenPort_Modbus(int port, int baudIndex, int parityIndex) override;
    int ClosePort_Modbus(int port) override;
    int Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer) override;
    int Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer) override;
    int Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer) override;
    int Set_4X_D1(int port, int slave, int holdingRegister, int value) override;
    int Set_0X_Bit1(int port, int slave, int coil) override;
    int Rst_0X_Bit1(int port, int slave, int coil) override;
    LinkOutcome lastOutcome() const override;
    int lastExceptionCode() const override;

    // The device's contents (1-based numbers as the station uses them).
    void setInputRegister(int number, qint32 value);
    void setHoldingRegister(int number, qint32 value);
    qint32 holdingRegister(int number) const;
    // Raw 16-bit bit image returned by Get_0X_B16 / Get_1X_B16 starting at 1.
    void setCoilWord(qint32 word);
    void setInputWord(qint32 word);

    // The next `count` calls of `fn` (e.g. "Get_4X_D8", or "*" for any call)
    // fail with `outcome`; reads then leave the buffer untouched.
    void failNext(const QString& fn, LinkOutcome outcome, int count = 1);
    // Results the next Set_4X_D1 calls return, in order (e.g. -8888);
    // afterwards writes succeed with 0.
    void queueWriteResults(const QList<int>& results);
    // The Modbus exception code calls failing with Exception report (default 2).
    void setExceptionCode(int code);
    // OpenPort_Modbus fails while this is set (and reopen attempts too).
    void setOpenFails(bool fails);
    // Reads and writes on a port that is not open fail with NotOpen.
    void setRequireOpen(bool on);
    // Every read and write takes this long before it answers (a slow or dead
    // line: combine with failNext(.., Timeout)); outside the lock.
    void setCallTime(int ms);

    QStringList calls() const;
    QStringList callsOf(const QString& fn) const; // only the calls of one function
    void clearCalls();
    int openCount() const;

private:
    bool takeFailure(const QString& fn, LinkOutcome* outcome);
    int read(const QString& fn, int port, int slave, int first, int count, const QHash<int, qint32>& table,
             std::span<qint32> buffer);
    int readWord(const QString& fn, int port, int slave, int first, qint32 word, std::span<qint32> buffer);
    void record(const QString& fn, const QList<int>& args);
    bool portUsable(int port, LinkOutcome* outcome) const;
    void takeTime() const;

    mutable QMutex mutex_;
    QStringList calls_;
    QHash<int, qint32> input_;
    QHash<int, qint32> holding_;
    qint32 coilWord_ = 0;
    qint32 inputWord_ = 0;
    std::deque<std::pair<QString, LinkOutcome>> failures_;
    std::deque<int> writeResults_;
    QHash<int, bool> open_;
    bool openFails_ = false;
    bool requireOpen_ = false;
    int opens_ = 0;
    std::atomic<int> callTimeMs_{0};
    LinkOutcome last_ = LinkOutcome::Answered;
    int exceptionCode_ = 2;
};
