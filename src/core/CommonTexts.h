#pragma once
#include <QString>

// Texts several windows show with one meaning, kept once so that they read
// (and translate) the same everywhere: the "CommonText" translation context.
namespace CommonText {
QString stationTitle(); // "过程控制仪表 PX5800": the main window and the splash
QString back();         // "返回": a window's button back to the main window
QString exit();         // "退出": the button that ends the station
QString cancel();       // "取消"
QString exportCsv();    // "导出CSV": buttons and dialog titles
QString cannotWrite(const QString& path, const QString& why); // "无法写入 PATH: WHY"
} // namespace CommonText
