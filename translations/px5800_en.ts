<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Splash</name>
    <message>
        <source>过程控制仪表 PX5800</source>
        <translation>PX5800 operator station</translation>
    </message>
    <message>
        <source>系统正在初始化数据引擎，请稍后。。。。。。</source>
        <translation>Starting the data engine, please wait...</translation>
    </message>
</context>
</TS>
