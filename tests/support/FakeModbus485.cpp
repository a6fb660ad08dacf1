#include "FakeModbus485.h"

#include <QThread>

void FakeModbus485::record(const QString& fn, const QList<int>& args)
{
    QStringList parts;
    for (int a : args)
        parts << QString::number(a);
    calls_ << QStringLiteral("%1(%2)").arg(fn, parts.join(u','));
}

bool FakeModbus485::takeFailure(const QString& fn, LinkOutcome* outcome)
{
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->first == fn || it->first == QLatin1String("*")) {
            *outcome = it->second;
            failures_.erase(it);
            return true;
        }
    }
    return false;
}

bool FakeModbus485::portUsable(int port, LinkOutcome* outcome) const
{
    if (requireOpen_ && !open_.value(port, false)) {
        *outcome = LinkOutcome::NotOpen;
        return false;
    }
    return true;
}

int FakeModbus485::OpenPort_Modbus(int port, int baudIndex, int parityIndex)
{
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("OpenPort_Modbus"), {port, baudIndex, parityIndex});
    ++opens_;
    LinkOutcome failure;
    if (openFails_ || takeFailure(QStringLiteral("OpenPort_Modbus"), &failure)) {
        last_ = LinkOutcome::NotOpen;
        open_[port] = false;
        return -1;
    }
    open_[port] = true;
    last_ = LinkOutcome::Answered;
    return 0;
}

int FakeModbus485::ClosePort_Modbus(int port)
{
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("ClosePort_Modbus"), {port});
    open_[port] = false;
    last_ = LinkOutcome::Answered;
    return 0;
}

int FakeModbus485::read(const QString& fn, int port, int slave, int first, int count, const QHash<int, qint32>& table,
                        std::span<qint32> buffer)
{
    takeTime();
    QMutexLocker lock(&mutex_);
    record(fn, {port, slave, first});
    LinkOutcome failure;
    if (!portUsable(port, &failure) || takeFailure(fn, &failure)) {
        last_ = failure;
        return -1;
    }
    if (buffer.size() < std::size_t(count)) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    for (int i = 0; i < count; ++i)
        buffer[i] = table.value(first + i, 0);
    last_ = LinkOutcome::Answered;
    return 0;
}

int FakeModbus485::readWord(const QString& fn, int port, int slave, int first, qint32 word, std::span<qint32> buffer)
{
    takeTime();
    QMutexLocker lock(&mutex_);
    record(fn, {port, slave, first});
    LinkOutcome failure;
    if (!portUsable(port, &failure) || takeFailure(fn, &failure)) {
        last_ = failure;
        return -1;
    }
    if (buffer.empty()) {
        last_ = LinkOutcome::Other;
        return -1;
    }
    buffer[0] = word;
    last_ = LinkOutcome::Answered;
    return 0;
}

int FakeModbus485::Get_0X_B16(int port, int slave, int firstCoil, std::span<qint32> buffer)
{
    return readWord(QStringLiteral("Get_0X_B16"), port, slave, firstCoil, coilWord_, buffer);
}

int FakeModbus485::Get_1X_B16(int port, int slave, int firstInput, std::span<qint32> buffer)
{
    return readWord(QStringLiteral("Get_1X_B16"), port, slave, firstInput, inputWord_, buffer);
}

int FakeModbus485::Get_3X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return read(QStringLiteral("Get_3X_D8"), port, slave, firstRegister, 8, input_, buffer);
}

int FakeModbus485::Get_4X_D8(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return read(QStringLiteral("Get_4X_D8"), port, slave, firstRegister, 8, holding_, buffer);
}

int FakeModbus485::Get_4X_D16(int port, int slave, int firstRegister, std::span<qint32> buffer)
{
    return read(QStringLiteral("Get_4X_D16"), port, slave, firstRegister, 16, holding_, buffer);
}

int FakeModbus485::Set_4X_D1(int port, int slave, int holdingRegister, int value)
{
    takeTime();
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("Set_4X_D1"), {port, slave, holdingRegister, value});
    LinkOutcome failure;
    if (!portUsable(port, &failure) || takeFailure(QStringLiteral("Set_4X_D1"), &failure)) {
        last_ = failure;
        return kWriteFailed;
    }
    if (!writeResults_.empty()) {
        const int rc = writeResults_.front();
        writeResults_.pop_front();
        last_ = rc == 0 ? LinkOutcome::Answered : LinkOutcome::Timeout;
        if (rc == 0)
            holding_[holdingRegister] = value;
        return rc;
    }
    holding_[holdingRegister] = value;
    last_ = LinkOutcome::Answered;
    return 0;
}

int FakeModbus485::Set_0X_Bit1(int port, int slave, int coil)
{
    takeTime();
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("Set_0X_Bit1"), {port, slave, coil});
    LinkOutcome failure;
    if (!portUsable(port, &failure) || takeFailure(QStringLiteral("Set_0X_Bit1"), &failure)) {
        last_ = failure;
        return -1;
    }
    coilWord_ |= 1 << (coil - 1);
    last_ = LinkOutcome::Answered;
    return 0;
}

int FakeModbus485::Rst_0X_Bit1(int port, int slave, int coil)
{
    takeTime();
    QMutexLocker lock(&mutex_);
    record(QStringLiteral("Rst_0X_Bit1"), {port, slave, coil});
    LinkOutcome failure;
    if (!portUsable(port, &failure) || takeFailure(QStringLiteral("Rst_0X_Bit1"), &failure)) {
        last_ = failure;
        return -1;
    }
    coilWord_ &= ~(1 << (coil - 1));
    last_ = LinkOutcome::Answered;
    return 0;
}

LinkOutcome FakeModbus485::lastOutcome() const
{
    QMutexLocker lock(&mutex_);
    return last_;
}

int FakeModbus485::lastExceptionCode() const
{
    QMutexLocker lock(&mutex_);
    return last_ == LinkOutcome::Exception ? exceptionCode_ : 0;
}

void FakeModbus485::setExceptionCode(int code)
{
    QMutexLocker lock(&mutex_);
    exceptionCode_ = code;
}

void FakeModbus485::setInputRegister(int number, qint32 value)
{
    QMutexLocker l(&mutex_);
    input_[number] = value;
}
void FakeModbus485::setHoldingRegister(int number, qint32 value)
{
    QMutexLocker l(&mutex_);
    holding_[number] = value;
}
qint32 FakeModbus485::holdingRegister(int number) const
{
    QMutexLocker l(&mutex_);
    return holding_.value(number, 0);
}
void FakeModbus485::setCoilWord(qint32 word)
{
    QMutexLocker l(&mutex_);
    coilWord_ = word;
}
void FakeModbus485::setInputWord(qint32 word)
{
    QMutexLocker l(&mutex_);
    inputWord_ = word;
}

void FakeModbus485::failNext(const QString& fn, LinkOutcome outcome, int count)
{
    QMutexLocker l(&mutex_);
    for (int i = 0; i < count; ++i)
        failures_.emplace_back(fn, outcome);
}

void FakeModbus485::queueWriteResults(const QList<int>& results)
{
    QMutexLocker l(&mutex_);
    for (int r : results)
        writeResults_.push_back(r);
}

void FakeModbus485::setOpenFails(bool fails)
{
    QMutexLocker l(&mutex_);
    openFails_ = fails;
}
void FakeModbus485::setRequireOpen(bool on)
{
    QMutexLocker l(&mutex_);
    requireOpen_ = on;
}
QStringList FakeModbus485::calls() const
{
    QMutexLocker l(&mutex_);
    return calls_;
}

QStringList FakeModbus485::callsOf(const QString& fn) const
{
    QMutexLocker l(&mutex_);
    QStringList out;
    for (const QString& c : calls_)
        if (c.startsWith(fn + u'('))
            out << c;
    return out;
}

void FakeModbus485::clearCalls()
{
    QMutexLocker l(&mutex_);
    calls_.clear();
}
int FakeModbus485::openCount() const
{
    QMutexLocker l(&mutex_);
    return opens_;
}

void FakeModbus485::setCallTime(int ms) { callTimeMs_.store(ms); }

void FakeModbus485::takeTime() const
{
    if (const int ms = callTimeMs_.load())
        QThread::msleep(ulong(ms));
}
