#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A strict reader for the exported CSV (RFC 4180 quoting, CRLF records), so
// tests check what a spreadsheet would see rather than the writer's own code.
inline QList<QStringList> parseCsv(const QByteArray& bytes, bool* hadBom = nullptr)
{
    QByteArray data = bytes;
    const bool bom = data.startsWith("\xEF\xBB\xBF");
    if (hadBom)
        *hadBom = bom;
    if (bom)
        data.remove(0, 3);
    const QString text = QString::fromUtf8(data);
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            record << field;
            field.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            record << field;
            records << record;
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !record.isEmpty())
        records << (record << field);
    return records;
}
