#include "CommonTexts.h"

#include <QCoreApplication>

namespace CommonText {

namespace {
QString shown(const char* text) { return QCoreApplication::translate("CommonText", text); }
} // namespace

QString stationTitle() { return shown(QT_TRANSLATE_NOOP("CommonText", "过程控制仪表 PX5800")); }
QString back() { return shown(QT_TRANSLATE_NOOP("CommonText", "返回")); }
QString exit() { return shown(QT_TRANSLATE_NOOP("CommonText", "退出")); }
QString cancel() { return shown(QT_TRANSLATE_NOOP("CommonText", "取消")); }
QString exportCsv() { return shown(QT_TRANSLATE_NOOP("CommonText", "导出CSV")); }

QString cannotWrite(const QString& path, const QString& why)
{
    return shown(QT_TRANSLATE_NOOP("CommonText", "无法写入 %1: %2")).arg(path, why);
}

} // namespace CommonText
