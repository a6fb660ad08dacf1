#include "ParameterSet.h"

#include "MonitorTables.h"
#include "NumberText.h"
#include "ParamTable.h"
#include "PollingCycle.h"
#include "SegmentFields.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ParameterSet {
namespace {

// Parameters that set the instrument's own address and line: written only
// when chosen, and after everything else.
constexpr int kLinkParams[] = {19, 20, 21}; // address, baud rate, parity

bool isLinkParam(int index) { return std::ranges::find(kLinkParams, index) != std::end(kLinkParams); }

bool paramInTenths(int index)
{
    const ParamTable::Encoding e = ParamTable::param(index).encoding;
    return e == ParamTable::Encoding::Tenths || e == ParamTable::Encoding::Filter;
}

std::vector<Row> buildRows()
{
    using namespace SegmentMap;
    std::vector<Row> out;
    std::vector<Row> link;
    for (const ParamTable::ParamDef& def : ParamTable::all()) {
        const Row row{Section::Parameters, def.address, def.index, paramInTenths(def.index), isLinkParam(def.index)};
        (row.linkSetting ? link : out).push_back(row);
    }
    for (int i = 1; i <= kLastSegmentIndex; ++i)
        out.push_back(Row{Section::Segments, kSegmentBase + i, i, segmentWordScaled(i), false});
    for (int group = 1; group <= kPidGroups; ++group)
        for (int c = 0; c < int(kPidColumns.size()); ++c) {
            const Field f = pidField(group, c);
            out.push_back(Row{Section::PidGroups, f.holdingRegister, f.index, f.scaled, false});
        }
    out.push_back(Row{Section::Grouping, kSwitchRegister, 0, false, false});
    std::vector<const MonitorTables::EditRow*> alarms;
    for (const MonitorTables::EditRow& r : MonitorTables::editRows())
        if (r.place == MonitorTables::Place::AlarmFrame)
            alarms.push_back(&r);
    std::ranges::sort(alarms, {}, &MonitorTables::EditRow::reg);
    for (const MonitorTables::EditRow* r : alarms)
        out.push_back(Row{Section::AlarmSettings, r->reg, r->box, r->factor == 10, false});
    for (const MonitorTables::EditRow& r : MonitorTables::editRows())
        if (r.place == MonitorTables::Place::ValuePanel)
            out.push_back(Row{Section::Sv, r.reg, r.box, r.factor == 10, false});
    out.insert(out.end(), link.begin(), link.end());
    return out;
}

const std::vector<Row>& allRows()
{
    static const std::vector<Row> rows = buildRows();
    return rows;
}

const std::vector<Row>& rowsOfSection(Section section)
{
    static const auto bySection = [] {
        std::vector<std::vector<Row>> out(std::size(kSections));
        for (const Row& row : allRows())
            out[std::size_t(row.section)].push_back(row);
        for (auto& rows : out)
            std::ranges::sort(rows, {}, &Row::reg);
        return out;
    }();
    return bySection[std::size_t(section)];
}

// The value as the operator would type it into the row's editor.
QString typedText(const Row& row, qint32 raw) { return row.scaled ? doubleText(raw / 10.0) : QString::number(raw); }

QString fileError(const QString& what)
{
    return QCoreApplication::translate("ParameterSet", "参数集文件有误：%1").arg(what);
}

// A JSON string starting at the quote json[at]; returns the index of its
// closing quote, the text decoded into `out` so that "a" and "\u0061" are
// one name. The document already parsed, so the string is well formed.
qsizetype readString(const QByteArray& json, qsizetype at, QString* out)
{
    QByteArray plain; // UTF-8 between escapes
    const auto flush = [&] {
        *out += QString::fromUtf8(plain);
        plain.clear();
    };
    qsizetype i = at + 1;
    for (; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] != '\\') {
            plain += json[i];
            continue;
        }
        if (++i >= json.size())
            break;
        switch (json[i]) {
        case 'b': plain += '\b'; break;
        case 'f': plain += '\f'; break;
        case 'n': plain += '\n'; break;
        case 'r': plain += '\r'; break;
        case 't': plain += '\t'; break;
        case 'u': {
            flush();
            bool ok = false;
            const ushort unit = json.mid(i + 1, 4).toUShort(&ok, 16);
            if (ok)
                *out += QChar(unit); // surrogate halves pair up by themselves
            i += 4;
            break;
        }
        default: plain += json[i]; break; // \" \\ \/
        }
    }
    flush();
    return i;
}

// The first name that one object of the document holds twice, at any depth.
// The JSON reader keeps the last of them without a word, so a second
// "parameters" list would silently replace the first.
std::optional<QString> duplicateName(const QByteArray& json)
{
    struct Level {
        bool object;
        bool nameNext;
        QSet<QString> names;
    };
    std::vector<Level> open;
    for (qsizetype i = 0; i < json.size(); ++i) {
        switch (json[i]) {
        case '{': open.push_back({true, true, {}}); break;
        case '[': open.push_back({false, false, {}}); break;
        case '}':
        case ']':
            if (!open.empty())
                open.pop_back();
            break;
        case ',':
            if (!open.empty() && open.back().object)
                open.back().nameNext = true;
            break;
        case '"': {
            QString text;
            i = readString(json, i, &text);
            if (open.empty() || !open.back().nameNext)
                break; // a value
            Level& level = open.back();
            level.nameNext = false;
            if (level.names.contains(text))
                return text;
            level.names.insert(text);
            break;
        }
        default: break;
        }
    }
    return std::nullopt;
}

} // namespace

QString sectionKey(Section section)
{
    switch (section) {
    case Section::Parameters: return QStringLiteral("parameters");
    case Section::Segments: return QStringLiteral("segments");
    case Section::PidGroups: return QStringLiteral("pid_groups");
    case Section::Grouping: return QStringLiteral("grouping");
    case Section::AlarmSettings: return QStringLiteral("alarm_settings");
    case Section::Sv: return QStringLiteral("sv");
    }
    return {};
}

std::span<const Row> rows() { return allRows(); }

const Row* rowFor(int reg)
{
    for (const Row& row : allRows())
        if (row.reg == reg)
            return &row;
    return nullptr;
}

std::span<const Row> rowsOf(Section section) { return rowsOfSection(section); }

QString caption(const Row& row)
{
    using namespace SegmentMap;
    switch (row.section) {
    case Section::Parameters: return ParamTable::text(ParamTable::param(row.index).caption);
    case Section::Segments: {
        const int offset = (row.index - 1) % kFieldsPerSegment + 1;
        const auto column = std::ranges::find(kSegmentColumns, offset, &Column::offset);
        return groupCaption((row.index - 1) / kFieldsPerSegment + 1) + u' ' + QString::fromUtf8(column->caption);
    }
    case Section::PidGroups: {
        const auto column = std::ranges::find(kPidColumns, row.index % kWordsPerPidGroup, &Column::offset);
        return groupCaption(row.index / kWordsPerPidGroup + 1) + u' ' + QString::fromUtf8(column->caption);
    }
    case Section::Grouping: return QString::fromUtf8(kSwitchCaption);
    case Section::AlarmSettings:
    case Section::Sv: return QString::fromUtf8(MonitorTables::editRowForRegister(row.reg)->caption);
    }
    return {};
}

QString shownCaption(const Row& row)
{
    using namespace SegmentMap;
    switch (row.section) {
    case Section::Parameters: return ParamTable::shown(ParamTable::param(row.index).caption);
    case Section::Segments: {
        const int offset = (row.index - 1) % kFieldsPerSegment + 1;
        const auto column = std::ranges::find(kSegmentColumns, offset, &Column::offset);
        return groupCaption((row.index - 1) / kFieldsPerSegment + 1) + u' '
               + QCoreApplication::translate("SegmentMap", column->caption);
    }
    case Section::PidGroups: {
        const auto column = std::ranges::find(kPidColumns, row.index % kWordsPerPidGroup, &Column::offset);
        return groupCaption(row.index / kWordsPerPidGroup + 1) + u' '
               + QCoreApplication::translate("SegmentMap", column->caption);
    }
    case Section::Grouping: return QCoreApplication::translate("SegmentMap", kSwitchCaption);
    case Section::AlarmSettings:
    case Section::Sv: return MonitorTables::shown(MonitorTables::editRowForRegister(row.reg)->caption);
    }
    return {};
}

QString text(const Row& row, qint32 raw)
{
    switch (row.section) {
    case Section::Parameters: return ParamTable::displayText(row.index, raw).value_or(QString::number(raw));
    case Section::Grouping: return SegmentMap::switchText(raw);
    case Section::Segments:
    case Section::PidGroups: return SegmentMap::wordText(raw, row.scaled);
    case Section::AlarmSettings:
    case Section::Sv: return typedText(row, raw);
    }
    return {};
}

EntryRule::Verdict editorVerdict(const Row& row, qint32 raw)
{
    const QString typed = typedText(row, raw);
    EntryRule::Verdict verdict;
    switch (row.section) {
    case Section::Parameters: verdict = ParamTable::entryVerdict(row.index, typed); break;
    case Section::Segments:
    case Section::PidGroups: verdict = SegmentMap::entryVerdict(typed, row.scaled); break;
    case Section::Grouping:
        // The switch's list offers 0 and 1.
        verdict = raw == 0 || raw == 1 ? EntryRule::accepted(raw) : EntryRule::refused(EntryRule::outOfRangeText(0, 1));
        break;
    case Section::AlarmSettings:
    case Section::Sv: verdict = MonitorTables::entryVerdict(typed, *MonitorTables::editRowForRegister(row.reg)); break;
    }
    if (verdict.accepted() && *verdict.value != raw)
        return EntryRule::refused(QCoreApplication::translate("ParameterSet", "编辑器无法写入 %1").arg(raw));
    return verdict;
}

// ---- Reading from the instrument ----------------------------------------------

QVector<ReadRequest> readRequests()
{
    constexpr int kConfigBlock = 8;
    QVector<ReadRequest> out;
    for (int first = ParamTable::kFirstRegister; first < ParamTable::kFirstRegister + ParamTable::kCount;
         first += kConfigBlock)
        out.append(ReadRequest{ReadFn::Get_4X_D8, first});
    for (const SegmentMap::BlockRead& read : SegmentMap::kRefreshReads)
        out.append(ReadRequest{ReadFn::Get_4X_D16, read.firstRegister});
    // The alarm settings and the set value as the poll reads them.
    const QVector<ReadRequest> cycle = PollingCycle::cycleRequests();
    out.append(cycle.at(MonitorBlock::Settings));
    out.append(cycle.at(MonitorBlock::Process));
    return out;
}

std::optional<Values> valuesFromReads(const QVector<ReadResult>& results, QString* error)
{
    // The set value is written to one register and read back from an input register.
    const int svRegister = MonitorTables::editRowForBox(0)->reg;
    const int svElement = MonitorBlock::valueWritten(svRegister)->readBackInput - 1;
    Values values;
    for (const ReadResult& r : results) {
        if (!r.ok()) {
            if (error)
                *error = QCoreApplication::translate("ParameterSet", "读取寄存器 %1 起的数据失败（%2）")
                             .arg(r.request.first)
                             .arg(outcomeName(r.outcome));
            return std::nullopt;
        }
        if (r.request.fn == ReadFn::Get_3X_D8) {
            values.insert(svRegister, r.data.value(svElement));
            continue;
        }
        for (int k = 0; k < elementsOf(r.request.fn); ++k) {
            const int reg = r.request.first + k;
            if (rowFor(reg))
                values.insert(reg, r.data.value(k));
        }
    }
    if (values.size() != qsizetype(allRows().size())) {
        if (error)
            *error = QCoreApplication::translate("ParameterSet", "读取的数据不完整");
        return std::nullopt;
    }
    return values;
}

// ---- The file ---------------------------------------------------------------

QByteArray toJson(const Values& values, const PortSettings& port, const QDateTime& savedAt)
{
    QJsonObject root;
    root.insert(QStringLiteral("format"), kFormat);
    root.insert(QStringLiteral("saved_local"), savedAt.toLocalTime().toString(Qt::ISODate));
    root.insert(QStringLiteral("saved_utc"), savedAt.toUTC().toString(Qt::ISODate));
    root.insert(QStringLiteral("port"),
                QJsonObject{{QStringLiteral("number"), port.port},
                            {QStringLiteral("baud"), baudRateOf(port.baudIndex)},
                            {QStringLiteral("parity"), QString(QChar::fromLatin1(parityLetterOf(port.parityIndex)))}});
    root.insert(QStringLiteral("address"), port.address);
    for (Section section : kSections) {
        QJsonArray entries;
        for (const Row& row : rowsOf(section)) {
            if (!values.contains(row.reg))
                continue;
            const qint32 raw = values.value(row.reg);
            entries.append(QJsonObject{{QStringLiteral("register"), row.reg},
                                       {QStringLiteral("raw"), raw},
                                       {QStringLiteral("caption"), caption(row)},
                                       {QStringLiteral("text"), text(row, raw)}});
        }
        root.insert(sectionKey(section), entries);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

LoadResult fromJson(const QByteArray& bytes)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {std::nullopt, fileError(QCoreApplication::translate("ParameterSet", "不是完整的 JSON（第 %1 字节：%2）")
                                            .arg(parseError.offset)
                                            .arg(parseError.errorString()))};
    if (const std::optional<QString> name = duplicateName(bytes))
        return {std::nullopt,
                fileError(QCoreApplication::translate("ParameterSet", "名称“%1”在同一层中出现两次").arg(*name))};
    if (!doc.isObject())
        return {std::nullopt, fileError(QCoreApplication::translate("ParameterSet", "不是参数集"))};
    const QJsonObject root = doc.object();
    const QJsonValue format = root.value(QStringLiteral("format"));
    if (!format.isDouble())
        return {std::nullopt, fileError(QCoreApplication::translate("ParameterSet", "不是参数集（没有 format）"))};
    if (format.toDouble() != kFormat)
        return {std::nullopt, fileError(QCoreApplication::translate("ParameterSet", "格式 %1 不受支持（可读格式 %2）")
                                            .arg(format.toDouble())
                                            .arg(kFormat))};

    File file;
    file.savedLocal = root.value(QStringLiteral("saved_local")).toString();
    file.savedUtc = root.value(QStringLiteral("saved_utc")).toString();
    const QJsonObject port = root.value(QStringLiteral("port")).toObject();
    file.port.port = port.value(QStringLiteral("number")).toInt();
    file.port.baudIndex = std::max(0, baudIndexOf(port.value(QStringLiteral("baud")).toInt()));
    file.port.parityIndex =
        std::max(0, int(QStringLiteral("NOE").indexOf(port.value(QStringLiteral("parity")).toString())));
    file.port.address = root.value(QStringLiteral("address")).toInt();

    for (Section section : kSections) {
        const QJsonValue list = root.value(sectionKey(section));
        if (list.isUndefined())
            continue;
        if (!list.isArray())
            return {std::nullopt,
                    fileError(QCoreApplication::translate("ParameterSet", "%1 不是列表").arg(sectionKey(section)))};
        for (const QJsonValue& item : list.toArray()) {
            const QJsonValue reg = item.toObject().value(QStringLiteral("register"));
            const QJsonValue raw = item.toObject().value(QStringLiteral("raw"));
            if (!reg.isDouble() || !raw.isDouble())
                return {std::nullopt,
                        fileError(QCoreApplication::translate("ParameterSet", "%1 中有一项缺少 register 或 raw")
                                      .arg(sectionKey(section)))};
            const double r = reg.toDouble();
            const Row* row = r == std::floor(r) && std::fabs(r) < 1e6 ? rowFor(int(r)) : nullptr;
            if (!row || row->section != section)
                return {std::nullopt, fileError(QCoreApplication::translate("ParameterSet", "%1 中的寄存器 %2 未知")
                                                    .arg(sectionKey(section))
                                                    .arg(r))};
            const double v = raw.toDouble();
            if (v != std::floor(v) || v < EntryRule::kRegisterMin || v > EntryRule::kRegisterMax)
                return {std::nullopt,
                        fileError(QCoreApplication::translate("ParameterSet", "寄存器 %1 的值 %2 不是 16 位整数")
                                      .arg(row->reg)
                                      .arg(v))};
            if (file.values.contains(row->reg))
                return {std::nullopt,
                        fileError(QCoreApplication::translate("ParameterSet", "寄存器 %1 出现两次").arg(row->reg))};
            file.values.insert(row->reg, qint32(v));
        }
    }
    if (file.values.isEmpty())
        return {std::nullopt, fileError(QCoreApplication::translate("ParameterSet", "没有任何参数"))};
    return {std::move(file), QString()};
}

LoadResult load(const QString& path)
{
    constexpr qint64 kLargest = 4 * 1024 * 1024; // a set is about 20 kB
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {std::nullopt,
                QCoreApplication::translate("ParameterSet", "无法打开 %1：%2").arg(path, f.errorString())};
    if (f.size() > kLargest)
        return {std::nullopt, fileError(QCoreApplication::translate("ParameterSet", "文件过大"))};
    return fromJson(f.readAll());
}

bool save(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
        return true;
    if (error)
        *error = QCoreApplication::translate("ParameterSet", "无法保存 %1：%2").arg(path, f.errorString());
    return false;
}

// ---- Comparing and planning ----------------------------------------------------

QVector<Difference> diff(const Values& instrument, const Values& file)
{
    QVector<Difference> out;
    for (const Row& row : allRows()) {
        const auto want = file.constFind(row.reg);
        const auto have = instrument.constFind(row.reg);
        if (want != file.cend() && have != instrument.cend() && *want != *have)
            out.append(Difference{&row, *have, *want});
    }
    return out;
}

Plan plan(const Values& instrument, const Values& file, const QSet<int>& only)
{
    Plan out;
    // What the instrument will hold once the steps so far are done, so that a
    // row overwritten by a linked write is written again when the file wants
    // another value.
    Values expected = instrument;
    // Rows a linked write changed: put back to the file's value even when not
    // chosen, since they were only left out because they did not differ yet.
    QSet<int> linkedTouched;
    for (const Row& row : allRows()) {
        const auto want = file.constFind(row.reg);
        if (want == file.cend() || (!only.isEmpty() && !only.contains(row.reg) && !linkedTouched.contains(row.reg)))
            continue;
        if (expected.contains(row.reg) && expected.value(row.reg) == *want)
            continue;
        if (only.isEmpty() && row.linkSetting) {
            out.refused.append(
                Refusal{&row, *want, QCoreApplication::translate("ParameterSet", "通讯设置，仅在明确选择时写入")});
            continue;
        }
        const EntryRule::Verdict verdict = editorVerdict(row, *want);
        if (!verdict.accepted()) {
            out.refused.append(Refusal{&row, *want, verdict.refusal});
            continue;
        }
        out.steps.append(Step{&row, *want, false});
        expected.insert(row.reg, *want);
        if (row.section != Section::Parameters)
            continue;
        if (const std::optional<ParamTable::LinkedWrite> linked = ParamTable::linkedWrite(row.index, *want)) {
            out.steps.append(Step{rowFor(linked->address), linked->value, true});
            expected.insert(linked->address, linked->value);
            linkedTouched.insert(linked->address);
        }
    }
    return out;
}

} // namespace ParameterSet
