#include "CliApp.h"
#include "InstrumentSession.h"
#include "MonitorTables.h"
#include "NumberText.h"
#include "NumericPrefix.h"
#include "WriteEntry.h"
#include "WriteLabels.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

using namespace MonitorTables;

// How long the instrument may take to show a written value.
constexpr int kReadBackMs = 3000;
constexpr int kReadBackPauseMs = 200;

const ModeRow* modeRowForLabel(int label)
{
    for (const ModeRow& row : modeRows())
        if (row.label == label)
            return &row;
    return nullptr;
}

// The raw register behind the value label an edit row's result shows in.
std::optional<qint32> shownRaw(const EditRow& row, const LiveImage& image)
{
    for (const ValueRow& v : valueRows()) {
        if (qstrcmp(v.label, row.valueLabel) != 0)
            continue;
        return v.index < 4 ? image.InputRegs[std::size_t(v.index)] : image.HoldingRegs[std::size_t(v.index)];
    }
    return std::nullopt;
}

// Automatic mode, tested as the main window's mode label tests it: the
// manual output is offered only while it is off.
bool inAutomatic(const LiveImage& image)
{
    for (const StateRow& row : stateRows())
        if (row.effect == StateEffect::ManualEntry)
            return stateIsOn(row, image);
    return false;
}

QString scaled(qint32 raw, int factor) { return doubleText(double(raw) / factor); }

// What a register write or a coil switch targets, and how to see it.
struct Target {
    QString source; // for messages: "SV", "manual OP", "coil 2"
    const EditRow* edit = nullptr;
    const ModeRow* mode = nullptr;
    qint32 value = 0;        // register value, or 0/1 for a coil
    QString offWord, onWord; // a coil's states as the command line names them
    QString valueText() const { return shownText(value); }
    std::optional<qint32> shown(const LiveImage& image) const
    {
        if (edit)
            return shownRaw(*edit, image);
        return image.CoilBits[std::size_t(mode->coil - 1)] != 0 ? 1 : 0;
    }
    QString shownText(qint32 raw) const { return edit ? scaled(raw, edit->factor) : raw ? onWord : offWord; }
    // The write as the station's panel makes it, for the journal.
    WriteRequest request() const
    {
        if (edit)
            return {WriteFn::Set_4X_D1, edit->reg, value};
        return {value ? WriteFn::Set_0X_Bit1 : WriteFn::Rst_0X_Bit1, mode->coil, 0};
    }
    WriteLabel label() const { return edit ? WriteLabels::forEditRow(*edit) : WriteLabels::forCoil(mode->coil); }
};

} // namespace

int runSet(CliContext& cx)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("what"), QStringLiteral("sv, op, mode or tune."));
    const EditRow* sv = editRowForRegister(1);
    const EditRow* op = editRowForRegister(2);
    parser.addPositionalArgument(QStringLiteral("value"),
                                 QStringLiteral("sv: %1 to %2; op (manual output, %): %3 to %4; "
                                                "mode: auto or manual; tune: on or off.")
                                     .arg(doubleText(EntryRule::effective(bounds(*sv)).lower),
                                          doubleText(EntryRule::effective(bounds(*sv)).upper),
                                          doubleText(EntryRule::effective(bounds(*op)).lower),
                                          doubleText(EntryRule::effective(bounds(*op)).upper)));
    InstrumentOptions options;
    int code = kExitOk;
    if (!cx.parseInstrument(
            parser, QStringLiteral("sv|op VALUE | mode auto|manual | tune on|off [instrument options]"),
            QStringLiteral("Writes as the station's operator panel does (a number is read as the panel reads "
                           "it and refused outside the bounds, without writing), then reads the instrument "
                           "until it shows the new value. Exit 0 only when it does."),
            &options, &code))
        return code;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return cx.usage(QStringLiteral("expects what to set and the value, e.g. \"set sv 300\""));
    QString error;

    const QString what = positional[0].toLower();
    const QString text = unprotect(positional[1]);
    Target target;
    if (what == u"sv" || what == u"op") {
        target.source = what == u"sv" ? QStringLiteral("SV") : QStringLiteral("manual OP");
        target.edit = editRowForRegister(what == u"sv" ? 1 : 2);
        const EntryRule::Verdict verdict = entryVerdict(text, *target.edit);
        if (!verdict.accepted()) {
            // The station's own reason ("超出范围 -1999 ~ 9999") and what the text read as.
            const NumericPrefix n = parseNumericPrefix(text);
            const QString reason = QStringLiteral("%1 \"%2\" (reads as %3): %4")
                                       .arg(target.source, text,
                                            !n.found          ? QStringLiteral("no number")
                                            : n.representable ? doubleText(n.value)
                                                              : QStringLiteral("a number too large"),
                                            verdict.refusal);
            cx.journal().refused({WriteFn::Set_4X_D1, target.edit->reg, 0}, target.label(), std::nullopt, text,
                                 verdict.refusal);
            return cx.fail(kExitUsage, QStringLiteral("refused, nothing written: ") + reason);
        }
        const auto value = verdict.value;
        target.value = *value;
    } else if (what == u"mode" || what == u"tune") {
        const bool mode = what == u"mode";
        const QString v = text.toLower();
        const QString on = mode ? QStringLiteral("auto") : QStringLiteral("on");
        const QString off = mode ? QStringLiteral("manual") : QStringLiteral("off");
        if (v != on && v != off)
            return cx.usage(QStringLiteral("%1 expects %2 or %3").arg(what, on, off));
        // The mode switches of the main window: D_1RW(0) auto/manual, D_1RW(1) self-tuning.
        target.mode = modeRowForLabel(mode ? 0 : 1);
        target.value = v == on ? 1 : 0;
        target.onWord = on;
        target.offWord = off;
        target.source = QStringLiteral("coil %1").arg(target.mode->coil);
    } else {
        return cx.usage(QStringLiteral("cannot set \"%1\"; sv, op, mode or tune").arg(positional[0]));
    }

    InstrumentSession session(options);
    if (!session.open(&error))
        return cx.fail(kExitFailed, error);
    LiveImage image;
    if (!session.poll(image, &error))
        return cx.fail(kExitFailed, error);
    const std::optional<qint32> before = target.shown(image);
    const QString oldText = before ? target.shownText(*before) : QString();

    // The manual output is the panel's only while the instrument is in manual mode.
    if (target.edit && target.edit->place == Place::ModePanel && inAutomatic(image)) {
        const QString reason = QStringLiteral("manual OP needs manual mode; the instrument is in automatic");
        cx.journal().refused(target.request(), target.label(), before, text,
                             QStringLiteral("自动状态下不能修改手动输出"));
        return cx.fail(kExitUsage, QStringLiteral("refused, nothing written: ") + reason);
    }

    const WriteResult written = target.edit ? session.writeRegister(target.edit->reg, target.value)
                                            : session.writeCoil(target.mode->coil, target.value != 0);
    const qint64 row = cx.journal().sent(target.request(), target.label(), before, written);
    if (written.outcome != LinkOutcome::Answered) {
        return cx.fail(kExitFailed,
                       QStringLiteral("writing %1 failed%2: %3")
                           .arg(target.source, written.calls > 1 ? QStringLiteral(" (also when repeated)") : QString(),
                                outcomeText(written.outcome, written.exceptionCode)));
    }

    // Read back until the instrument shows the value or the time is up.
    QElapsedTimer waited;
    waited.start();
    std::optional<qint32> shown;
    for (;;) {
        if (session.poll(image, &error)) {
            shown = target.shown(image);
            if (shown == target.value)
                break;
        }
        if (waited.elapsed() + kReadBackPauseMs > kReadBackMs)
            break;
        QThread::msleep(kReadBackPauseMs);
    }
    cx.journal().readBack(row, target.request(), target.label(), shown);
    if (shown != target.value) {
        return cx.fail(kExitFailed, shown ? QStringLiteral("written, but the instrument shows %1 %2, not %3")
                                                .arg(target.source, target.shownText(*shown), target.valueText())
                                          : QStringLiteral("written, but the read-back failed: %1").arg(error));
    }
    cx.print(QStringLiteral("%1 %2 -> %3 (verified)\n").arg(target.source, oldText, target.valueText()));
    return kExitOk;
}
