#include "LoopList.h"

#include <QStringList>

#include <charconv>

namespace {

bool readAddress(QStringView text, int* address)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    const char* end = bytes.constData() + bytes.size();
    const auto [ptr, ec] = std::from_chars(bytes.constData(), end, *address);
    return ec == std::errc() && ptr == end && !bytes.isEmpty();
}

} // namespace

namespace LoopList {

QVector<int> parse(const QString& text, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return QVector<int>();
    };
    QVector<int> addresses;
    if (text.trimmed().isEmpty())
        return fail(QStringLiteral("no addresses given"));
    for (const QString& part : text.split(QLatin1Char(','))) {
        const qsizetype dash = part.indexOf(QLatin1Char('-'));
        int first = 0;
        int last = 0;
        if (dash < 0) {
            if (!readAddress(part, &first))
                return fail(QStringLiteral("\"%1\" is not an address").arg(part.trimmed()));
            last = first;
        } else if (!readAddress(QStringView(part).left(dash), &first)
                   || !readAddress(QStringView(part).mid(dash + 1), &last)) {
            return fail(QStringLiteral("\"%1\" is not a range of addresses").arg(part.trimmed()));
        }
        if (first < 1 || last > kMaxAddress || first > last)
            return fail(QStringLiteral("\"%1\": addresses are 1-%2, low to high").arg(part.trimmed()).arg(kMaxAddress));
        for (int a = first; a <= last; ++a) {
            if (!addresses.isEmpty() && a <= addresses.last())
                return fail(QStringLiteral("address %1 is given twice or out of order").arg(a));
            addresses.append(a);
        }
    }
    return addresses;
}

QString format(const QVector<int>& addresses)
{
    QStringList parts;
    for (qsizetype i = 0; i < addresses.size();) {
        qsizetype j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1)
            ++j;
        parts << (j == i ? QString::number(addresses[i]) : QStringLiteral("%1-%2").arg(addresses[i]).arg(addresses[j]));
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

} // namespace LoopList
