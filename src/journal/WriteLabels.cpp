#include "WriteLabels.h"

#include "MonitorTables.h"
#include "ParamTable.h"
#include "ParameterSet.h"

namespace WriteLabels {

namespace {
struct CoilName {
    int coil;
    const char* name;
};
constexpr CoilName kCoils[] = {
    {1, "自整定"},
    {2, "手动/自动"},
    {3, "手动允许"},
};
} // namespace

WriteLabel forParameter(int index)
{
    const ParamTable::ParamDef& p = ParamTable::param(index);
    const bool tenths = p.encoding == ParamTable::Encoding::Tenths || p.encoding == ParamTable::Encoding::Filter;
    return WriteLabel{{}, QString::fromStdU16String(std::u16string(p.caption)), tenths ? 10 : 1};
}

WriteLabel forEditRow(const MonitorTables::EditRow& row)
{
    return WriteLabel{row.reg == 1   ? QStringLiteral("SV")
                      : row.reg == 2 ? QStringLiteral("OP")
                                     : QString(),
                      row.caption ? QString::fromUtf8(row.caption) : QStringLiteral("手动输出"), row.factor};
}

WriteLabel forCoil(int coil)
{
    for (const CoilName& c : kCoils)
        if (c.coil == coil)
            return WriteLabel{{}, QString::fromUtf8(c.name), 1};
    return {};
}

WriteLabel forSetRow(const ParameterSet::Row& row)
{
    using ParameterSet::Section;
    switch (row.section) {
    case Section::Parameters: return forParameter(row.index);
    case Section::AlarmSettings:
    case Section::Sv:
        if (const MonitorTables::EditRow* edit = MonitorTables::editRowForRegister(row.reg))
            return forEditRow(*edit);
        break;
    case Section::Segments:
    case Section::PidGroups:
    case Section::Grouping: break;
    }
    return WriteLabel{{}, ParameterSet::caption(row), row.scaled ? 10 : 1};
}

WriteLabel forRequest(const WriteRequest& request)
{
    if (request.fn != WriteFn::Set_4X_D1)
        return forCoil(request.address);
    if (const MonitorTables::EditRow* row = MonitorTables::editRowForRegister(request.address))
        return forEditRow(*row);
    const int index = request.address - ParamTable::kFirstRegister;
    if (index >= 0 && index < ParamTable::kCount)
        return forParameter(index);
    return {};
}

} // namespace WriteLabels
