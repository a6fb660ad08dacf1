#pragma once
#include <QMetaType>
#include <QVector>
#include <QtGlobal>

// How one exchange with the instrument ended.
enum class LinkOutcome {
    Answered,   // a valid reply
    Timeout,    // no reply in time
    CrcError,   // a reply with a bad checksum or a malformed frame
    Exception,  // the instrument answered with a Modbus exception
    Other,      // any other failure of the exchange
    DeviceGone, // the serial device vanished or failed (unplugged adapter, closed pseudo-terminal)
    NotOpen,    // the port is not open (never opened, or could not be opened)
    PortInUse,  // the open failed: another program holds the device
    Skipped,    // not attempted: an earlier request of the same batch timed out
};

// The five read calls of the library.
enum class ReadFn { Get_0X_B16, Get_1X_B16, Get_3X_D8, Get_4X_D8, Get_4X_D16 };

// The three write calls of the library.
enum class WriteFn { Set_4X_D1, Set_0X_Bit1, Rst_0X_Bit1 };

struct ReadRequest {
    ReadFn fn = ReadFn::Get_3X_D8;
    int first = 1; // 1-based register / point number as the station numbers it
};

// Number of buffer elements the library fills for each read call.
constexpr int elementsOf(ReadFn fn)
{
    switch (fn) {
    case ReadFn::Get_0X_B16:
    case ReadFn::Get_1X_B16: return 1; // one 16-bit bit image in element 0
    case ReadFn::Get_3X_D8:
    case ReadFn::Get_4X_D8: return 8;
    case ReadFn::Get_4X_D16: return 16;
    }
    return 0;
}

// Every read gets a buffer of this size, at least as large as any call fills.
constexpr int kReadBufferSize = 16;

struct ReadResult {
    ReadRequest request;
    LinkOutcome outcome = LinkOutcome::Skipped;
    QVector<qint32> data;  // kReadBufferSize elements; meaningful only when outcome is Answered
    int exceptionCode = 0; // the Modbus exception code when outcome is Exception
    bool ok() const { return outcome == LinkOutcome::Answered; }
};

struct WriteRequest {
    WriteFn fn = WriteFn::Set_4X_D1;
    int address = 0;  // holding register or coil number
    qint32 value = 0; // register value (ignored for coils)
};

struct WriteResult {
    WriteRequest request;
    int firstResult = 0;                        // library result of the first call
    int calls = 0;                              // 1, or 2 when the first register write returned -8888
    LinkOutcome outcome = LinkOutcome::Skipped; // outcome of the last call
    int exceptionCode = 0;                      // the Modbus exception code when outcome is Exception
};

// State of the serial port as the link worker sees it.
enum class PortState {
    Closed,     // not opened by the operator
    Open,       // opened; the device is there
    CannotOpen, // the operator opened it but the device could not be opened (retrying)
    InUse,      // the operator opened it but another program holds the device (retrying)
};

Q_DECLARE_METATYPE(LinkOutcome)
Q_DECLARE_METATYPE(ReadRequest)
Q_DECLARE_METATYPE(ReadResult)
Q_DECLARE_METATYPE(WriteRequest)
Q_DECLARE_METATYPE(WriteResult)
Q_DECLARE_METATYPE(PortState)

const char* outcomeName(LinkOutcome outcome);
// A Modbus exception code with its meaning, "02 非法数据地址"; English for the
// command line ("02 illegal data address"). Unknown codes keep their number.
QString exceptionText(int code);
QString exceptionTextEnglish(int code);
// Why a write failed, for logs: "timeout after 2 calls", "exception 02 illegal data address".
QString writeFailureText(const WriteResult& result);
void registerLinkMetaTypes();
