<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AlarmSettingsPanel</name>
    <message>
        <source>报警设定</source>
        <translation>Alarm settings</translation>
    </message>
</context>
<context>
    <name>CommonText</name>
    <message>
        <source>过程控制仪表 PX5800</source>
        <translation>PX5800 operator station</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>导出CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>无法写入 %1: %2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
</context>
<context>
    <name>ConfigWindow</name>
    <message>
        <source>参数设置</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source> Esc 返回</source>
        <translation> Esc Back</translation>
    </message>
    <message>
        <source>PID整定助手</source>
        <translation>PID tuning assistant</translation>
    </message>
    <message>
        <source>双击修改</source>
        <translation>Double-click to change</translation>
    </message>
    <message>
        <source>修改</source>
        <translation>Set</translation>
    </message>
</context>
<context>
    <name>DisplayTick</name>
    <message>
        <source>%1：显示的是最后读到的值</source>
        <translation>%1: showing the last values read</translation>
    </message>
    <message>
        <source>%1：显示的是最后读到的值
%2</source>
        <translation>%1: showing the last values read
%2</translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
</context>
<context>
    <name>EntryRule</name>
    <message>
        <source>超出范围 %1 ~ %2</source>
        <translation>Out of range %1 ~ %2</translation>
    </message>
    <message>
        <source>无此参数</source>
        <translation>No such parameter</translation>
    </message>
    <message>
        <source>不是数值</source>
        <translation>Not a number</translation>
    </message>
</context>
<context>
    <name>Fopdt</name>
    <message>
        <source>拟合良好</source>
        <translation>Good fit</translation>
    </message>
    <message>
        <source>拟合不佳(R²&lt;0.9),不给出建议</source>
        <translation>Poor fit (R²&lt;0.9), no suggestion</translation>
    </message>
    <message>
        <source>阶跃相对噪声太小,不给出建议</source>
        <translation>Step too small against noise, no suggestion</translation>
    </message>
    <message>
        <source>输出没有变化,无法辨识</source>
        <translation>Output did not change, cannot identify</translation>
    </message>
    <message>
        <source>数据太少,无法辨识</source>
        <translation>Too few data, cannot identify</translation>
    </message>
    <message>
        <source>记录中有停滞的一段(通讯中断时重复的记录),不给出建议</source>
        <translation>The record holds a stale stretch (rows repeated while the link was lost); no suggestion</translation>
    </message>
    <message>
        <source>PV变化只有几个分辨率单位,阶跃太小,不给出建议</source>
        <translation>The PV moved only a few steps of its resolution: the step is too small; no suggestion</translation>
    </message>
    <message>
        <source>纯滞后达到搜索上限(记录的三分之一),看不到响应,不给出建议</source>
        <translation>The dead time reaches the search limit (a third of the record): no response seen; no suggestion</translation>
    </message>
    <message>
        <source>记录太短,不给出建议</source>
        <translation>The record is too short; no suggestion</translation>
    </message>
    <message>
        <source>记录在第 %1 s 起 %2 s 不变后PV跳变(通讯中断时重复的记录),不给出建议</source>
        <translation>The record stands still for %2 s from %1 s, then the PV jumps (rows repeated while the link was lost); no suggestion</translation>
    </message>
    <message>
        <source>PV只变化了不到 %1 个分辨率单位(%2),阶跃太小,不给出建议</source>
        <translation>The PV moved less than %1 steps of its resolution (%2): the step is too small; no suggestion</translation>
    </message>
    <message>
        <source>记录太短: 阶跃后只有 %1 s, 至少需要 %2 s (θ + 2τ),不给出建议</source>
        <translation>The record is too short: %1 s after the step, at least %2 s needed (θ + 2τ); no suggestion</translation>
    </message>
</context>
<context>
    <name>HistoryPeriod</name>
    <message>
        <source>读取历史记录失败: %1</source>
        <translation>Reading the history failed: %1</translation>
    </message>
    <message>
        <source>时间范围无效</source>
        <translation>Invalid time range</translation>
    </message>
    <message>
        <source>数据库文件不存在: %1</source>
        <translation>Database file does not exist: %1</translation>
    </message>
    <message>
        <source>无法打开数据库: %1</source>
        <translation>Cannot open the database: %1</translation>
    </message>
    <message>
        <source>该时间范围内没有记录</source>
        <translation>No records in this time range</translation>
    </message>
    <message>
        <source>记录在 %1 %2 之后中断 %3 秒</source>
        <translation>Records stop for %3 s after %1 %2</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>过程控制仪表</source>
        <translation>Process controller</translation>
    </message>
    <message>
        <source>过程值</source>
        <translation>Process values</translation>
    </message>
    <message>
        <source>报警设定</source>
        <translation>Alarm settings</translation>
    </message>
    <message>
        <source>历史数据库无法打开</source>
        <translation>History database cannot be opened</translation>
    </message>
    <message>
        <source>%1：显示的是最后读到的值</source>
        <translation>%1: showing the last values read</translation>
    </message>
    <message>
        <source>
最后读到：%1</source>
        <translation>
Last read: %1</translation>
    </message>
</context>
<context>
    <name>JournalKind</name>
    <message>
        <source>报警</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>通讯</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>记录</source>
        <translation>Recorder</translation>
    </message>
    <message>
        <source>系统</source>
        <translation>System</translation>
    </message>
</context>
<context>
    <name>JournalMessage</name>
    <message>
        <source>修改%1：输入被拒绝</source>
        <translation>Change %1: entry refused</translation>
    </message>
    <message>
        <source>修改%1</source>
        <translation>Change %1</translation>
    </message>
    <message>
        <source>设备重新出现，端口已重新打开（%1）</source>
        <translation>Device back, port reopened (%1)</translation>
    </message>
    <message>
        <source>端口已打开（%1）</source>
        <translation>Port opened (%1)</translation>
    </message>
    <message>
        <source>端口已关闭（%1）</source>
        <translation>Port closed (%1)</translation>
    </message>
    <message>
        <source>仪表地址 %1，波特率 %2，校验 %3</source>
        <translation>instrument address %1, baud rate %2, parity %3</translation>
    </message>
    <message>
        <source>操作站启动（版本 %1，历史数据库 %2，%3）</source>
        <translation>Station started (version %1, history database %2, %3)</translation>
    </message>
    <message>
        <source>操作站停止（端口 %1，%2）</source>
        <translation>Station stopped (port %1, %2)</translation>
    </message>
    <message>
        <source>端口 %1 (%2)</source>
        <translation>port %1 (%2)</translation>
    </message>
    <message>
        <source>数据库恢复可写，暂存的样本已补写（最多暂存 %1 条），丢弃 %2 条</source>
        <translation>Database writable again, held samples written (at most %1 held), %2 dropped</translation>
    </message>
    <message>
        <source>数据库恢复可写，暂存的样本已补写（最多暂存 %1 条）</source>
        <translation>Database writable again, held samples written (at most %1 held)</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>报警1</source>
        <translation>Alarm 1</translation>
    </message>
    <message>
        <source>报警1解除</source>
        <translation>Alarm 1 cleared</translation>
    </message>
    <message>
        <source>报警2</source>
        <translation>Alarm 2</translation>
    </message>
    <message>
        <source>报警2解除</source>
        <translation>Alarm 2 cleared</translation>
    </message>
    <message>
        <source>传感器开路</source>
        <translation>Sensor open</translation>
    </message>
    <message>
        <source>传感器开路解除</source>
        <translation>Sensor open cleared</translation>
    </message>
    <message>
        <source>传感器短路</source>
        <translation>Sensor short</translation>
    </message>
    <message>
        <source>传感器短路解除</source>
        <translation>Sensor short cleared</translation>
    </message>
    <message>
        <source>自整定开</source>
        <translation>Self-tuning on</translation>
    </message>
    <message>
        <source>自整定关</source>
        <translation>Self-tuning off</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>手动</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>允许手动</source>
        <translation>Manual permitted</translation>
    </message>
    <message>
        <source>禁止手动</source>
        <translation>Manual not permitted</translation>
    </message>
    <message>
        <source>数据库恢复可写</source>
        <translation>Database writable again</translation>
    </message>
    <message>
        <source>操作站停止</source>
        <translation>Station stopped</translation>
    </message>
    <message>
        <source>端口待选择</source>
        <translation>port not chosen yet</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>奇</source>
        <translation>odd</translation>
    </message>
    <message>
        <source>偶</source>
        <translation>even</translation>
    </message>
</context>
<context>
    <name>JournalModel</name>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>类别</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>来源</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>内容</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>原值 → 新值</source>
        <translation>Old → new</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>操作员</source>
        <translation>Operator</translation>
    </message>
    <message>
        <source>回路</source>
        <translation>Loop</translation>
    </message>
</context>
<context>
    <name>JournalWindow</name>
    <message>
        <source>事件记录</source>
        <translation>Event journal</translation>
    </message>
    <message>
        <source>全部类别</source>
        <translation>All kinds</translation>
    </message>
    <message>
        <source>全部时间</source>
        <translation>All times</translation>
    </message>
    <message>
        <source>今天</source>
        <translation>Today</translation>
    </message>
    <message>
        <source>24小时</source>
        <translation>24 hours</translation>
    </message>
    <message>
        <source>7天</source>
        <translation>7 days</translation>
    </message>
    <message>
        <source>选定时段</source>
        <translation>Chosen period</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Acknowledge</translation>
    </message>
    <message>
        <source>至</source>
        <translation>to</translation>
    </message>
    <message>
        <source>已导出 %1 条</source>
        <translation>%1 exported</translation>
    </message>
    <message>
        <source>导出失败：%1</source>
        <translation>Export failed: %1</translation>
    </message>
    <message>
        <source>全部回路</source>
        <translation>All loops</translation>
    </message>
    <message>
        <source>全站</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>%1号</source>
        <translation>No. %1</translation>
    </message>
    <message>
        <source>正在读取…</source>
        <translation>Reading…</translation>
    </message>
    <message>
        <source>事件记录无法读取</source>
        <translation>Journal cannot be read</translation>
    </message>
    <message>
        <source>共 %1 条</source>
        <translation>%1 events</translation>
    </message>
    <message>
        <source>正在导出…</source>
        <translation>Exporting…</translation>
    </message>
    <message>
        <source>%1/事件记录_%2.csv</source>
        <translation>%1/journal_%2.csv</translation>
    </message>
    <message>
        <source>仅未确认报警</source>
        <translation>Unacknowledged alarms only</translation>
    </message>
</context>
<context>
    <name>JournalWriter</name>
    <message>
        <source>事件记录正常</source>
        <translation>Journal OK</translation>
    </message>
    <message>
        <source>事件记录服务器无法连接</source>
        <translation>Journal server unreachable</translation>
    </message>
    <message>
        <source>事件记录服务器拒绝密码</source>
        <translation>Journal server refused the password</translation>
    </message>
    <message>
        <source>事件记录服务器无权写入</source>
        <translation>Journal server: no right to write</translation>
    </message>
    <message>
        <source>事件记录服务器表结构不符</source>
        <translation>Journal server: tables of another layout</translation>
    </message>
    <message>
        <source>事件记录不可写</source>
        <translation>Journal not writable</translation>
    </message>
    <message>
        <source>事件记录无法打开</source>
        <translation>Journal cannot be opened</translation>
    </message>
    <message>
        <source>，暂存 %1 条</source>
        <translation>, %1 held</translation>
    </message>
    <message>
        <source>，已丢弃 %1 条</source>
        <translation>, %1 dropped</translation>
    </message>
</context>
<context>
    <name>LinkHealth</name>
    <message>
        <source>端口未打开</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>正在连接仪表</source>
        <translation>Connecting</translation>
    </message>
    <message>
        <source>通讯正常</source>
        <translation>Link OK</translation>
    </message>
    <message>
        <source>通讯中断</source>
        <translation>Link lost</translation>
    </message>
    <message>
        <source>端口无法打开</source>
        <translation>Port cannot be opened</translation>
    </message>
    <message>
        <source>端口正被其他程序占用</source>
        <translation>Port in use by another program</translation>
    </message>
    <message>
        <source>应答 %1&#x3000;超时 %2&#x3000;校验错 %3&#x3000;异常应答 %4&#x3000;其他 %5&#x3000;跳过周期 %6</source>
        <translation>Answers %1  Timeouts %2  CRC errors %3  Exceptions %4  Other %5  Skipped cycles %6</translation>
    </message>
    <message>
        <source>
最近一次异常应答：%1</source>
        <translation>
Latest exception answer: %1</translation>
    </message>
</context>
<context>
    <name>Loop</name>
    <message>
        <source>%1号仪表</source>
        <translation>Instrument %1</translation>
    </message>
</context>
<context>
    <name>LoopFace</name>
    <message>
        <source>回路 %1</source>
        <translation>Loop %1</translation>
    </message>
    <message>
        <source>%1（地址 %2）：双击或回车打开</source>
        <translation>%1 (address %2): double-click or Enter to open</translation>
    </message>
    <message>
        <source>等待数据</source>
        <translation>Waiting for data</translation>
    </message>
    <message>
        <source>未连接</source>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>通讯中断 尚无数据</source>
        <translation>No communication, no data yet</translation>
    </message>
    <message>
        <source>通讯中断 %1 秒前</source>
        <translation>No communication, %1 s ago</translation>
    </message>
    <message>
        <source>通讯中断 %1 分前</source>
        <translation>No communication, %1 min ago</translation>
    </message>
    <message>
        <source>通讯中断 %1 小时前</source>
        <translation>No communication, %1 h ago</translation>
    </message>
    <message>
        <source>%1号</source>
        <translation>No. %1</translation>
    </message>
    <message>
        <source>自整定</source>
        <translation>Self-tune</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>手动</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>无曲线数据</source>
        <translation>No trend data</translation>
    </message>
    <message>
        <source>报警1</source>
        <translation>Alarm 1</translation>
    </message>
    <message>
        <source>报警2</source>
        <translation>Alarm 2</translation>
    </message>
    <message>
        <source>传感器开路</source>
        <translation>Sensor open</translation>
    </message>
    <message>
        <source>传感器短路</source>
        <translation>Sensor short</translation>
    </message>
    <message>
        <source>传感器</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>未确认 %1</source>
        <translation>%1 unacknowledged</translation>
    </message>
</context>
<context>
    <name>LoopOverview</name>
    <message>
        <source>回路总览 — 过程控制仪表 PX5800</source>
        <translation>Loop overview — PX5800 operator station</translation>
    </message>
    <message>
        <source>打开事件记录，显示未确认的报警</source>
        <translation>Open the event log on the unacknowledged alarms</translation>
    </message>
    <message>
        <source>报警回路 %1    通讯中断 %2    未确认报警 %3</source>
        <translation>Loops in alarm %1    No communication %2    Unacknowledged alarms %3</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>画面切换</source>
        <translation>Windows</translation>
    </message>
    <message>
        <source>参数设置</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>输出分组</source>
        <translation>Output groups</translation>
    </message>
    <message>
        <source>参数校准</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>输出校正</source>
        <translation>Output trim</translation>
    </message>
    <message>
        <source>历史曲线</source>
        <translation>History trend</translation>
    </message>
    <message>
        <source>事件记录</source>
        <translation>Event journal</translation>
    </message>
    <message>
        <source>PID整定</source>
        <translation>PID tuning</translation>
    </message>
    <message>
        <source>回路总览</source>
        <translation>Loop overview</translation>
    </message>
</context>
<context>
    <name>ModePanel</name>
    <message>
        <source>运行方式</source>
        <translation>Operating mode</translation>
    </message>
    <message>
        <source>双击以切换</source>
        <translation>Double-click to switch</translation>
    </message>
    <message>
        <source>报警状态</source>
        <translation>Alarm state</translation>
    </message>
    <message>
        <source>辅助通道</source>
        <translation>Aux. channel</translation>
    </message>
    <message>
        <source>自整定开</source>
        <comment>sizing: widest mode label text</comment>
        <translation>Manual allowed</translation>
    </message>
    <message>
        <source>报警1上偏差报警</source>
        <comment>sizing: widest alarm type text</comment>
        <translation>Alarm 1 dev. band</translation>
    </message>
    <message>
        <source>传感器开路</source>
        <comment>sizing: widest alarm state text</comment>
        <translation>Sensor short</translation>
    </message>
</context>
<context>
    <name>MonitorTables</name>
    <message>
        <source>修改SV</source>
        <translation>Set SV</translation>
    </message>
    <message>
        <source>SV值</source>
        <translation>SV</translation>
    </message>
    <message>
        <source>修改</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>报警1值</source>
        <translation>Alarm 1</translation>
    </message>
    <message>
        <source>报警1回差</source>
        <translation>Alarm 1 hyst.</translation>
    </message>
    <message>
        <source>报警1延迟</source>
        <translation>Alarm 1 delay</translation>
    </message>
    <message>
        <source>报警2值</source>
        <translation>Alarm 2</translation>
    </message>
    <message>
        <source>报警2回差</source>
        <translation>Alarm 2 hyst.</translation>
    </message>
    <message>
        <source>报警2延迟</source>
        <translation>Alarm 2 delay</translation>
    </message>
    <message>
        <source>断线报警值</source>
        <translation>Break alarm</translation>
    </message>
    <message>
        <source>断线输出值</source>
        <translation>Break output</translation>
    </message>
    <message>
        <source>手动OP</source>
        <translation>Manual OP</translation>
    </message>
    <message>
        <source>报警1无报警</source>
        <translation>Alarm 1 none</translation>
    </message>
    <message>
        <source>报警2无报警</source>
        <translation>Alarm 2 none</translation>
    </message>
    <message>
        <source>无报警</source>
        <translation>No alarm</translation>
    </message>
    <message>
        <source>报警1上限报警</source>
        <translation>Alarm 1 high</translation>
    </message>
    <message>
        <source>报警2上限报警</source>
        <translation>Alarm 2 high</translation>
    </message>
    <message>
        <source>报警1下限报警</source>
        <translation>Alarm 1 low</translation>
    </message>
    <message>
        <source>报警2下限报警</source>
        <translation>Alarm 2 low</translation>
    </message>
    <message>
        <source>报警1上偏差报警</source>
        <translation>Alarm 1 dev. high</translation>
    </message>
    <message>
        <source>报警2上偏差报警</source>
        <translation>Alarm 2 dev. high</translation>
    </message>
    <message>
        <source>报警1下偏差报警</source>
        <translation>Alarm 1 dev. low</translation>
    </message>
    <message>
        <source>报警2下偏差报警</source>
        <translation>Alarm 2 dev. low</translation>
    </message>
    <message>
        <source>报警1偏差带报警</source>
        <translation>Alarm 1 dev. band</translation>
    </message>
    <message>
        <source>报警2偏差带报警</source>
        <translation>Alarm 2 dev. band</translation>
    </message>
    <message>
        <source>报警1断线报警</source>
        <translation>Alarm 1 break</translation>
    </message>
    <message>
        <source>报警2断线报警</source>
        <translation>Alarm 2 break</translation>
    </message>
    <message>
        <source>手自动</source>
        <translation>Man/Auto</translation>
    </message>
    <message>
        <source>手动</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>整定关</source>
        <translation>Tuning off</translation>
    </message>
    <message>
        <source>自整定开</source>
        <translation>Self-tune on</translation>
    </message>
    <message>
        <source>手动禁止</source>
        <translation>Manual locked</translation>
    </message>
    <message>
        <source>禁止手动</source>
        <translation>Manual locked</translation>
    </message>
    <message>
        <source>允许手动</source>
        <translation>Manual allowed</translation>
    </message>
    <message>
        <source>报警一OFF</source>
        <translation>Alarm 1 OFF</translation>
    </message>
    <message>
        <source>报警一ON</source>
        <translation>Alarm 1 ON</translation>
    </message>
    <message>
        <source>报警二OFF</source>
        <translation>Alarm 2 OFF</translation>
    </message>
    <message>
        <source>报警二ON</source>
        <translation>Alarm 2 ON</translation>
    </message>
    <message>
        <source>传感器开路</source>
        <translation>Sensor open</translation>
    </message>
    <message>
        <source>传感器短路</source>
        <translation>Sensor short</translation>
    </message>
    <message>
        <source>自整定</source>
        <translation>Self-tune</translation>
    </message>
    <message>
        <source>使能手动</source>
        <translation>Allow manual</translation>
    </message>
    <message>
        <source>PV值</source>
        <translation>PV</translation>
    </message>
    <message>
        <source>OP值</source>
        <translation>OP</translation>
    </message>
</context>
<context>
    <name>MqttPublisher</name>
    <message>
        <source>MQTT 已连接</source>
        <translation>MQTT connected</translation>
    </message>
    <message>
        <source>MQTT 未连接：用户名或密码被拒绝</source>
        <translation>MQTT not connected: user name or password refused</translation>
    </message>
    <message>
        <source>MQTT 未连接</source>
        <translation>MQTT not connected</translation>
    </message>
</context>
<context>
    <name>PanelWidgets</name>
    <message>
        <source>%1 至 %2</source>
        <translation>%1 to %2</translation>
    </message>
</context>
<context>
    <name>ParamDiffDialog</name>
    <message>
        <source>恢复参数</source>
        <translation>Restore parameters</translation>
    </message>
    <message>
        <source>比较参数</source>
        <translation>Compare parameters</translation>
    </message>
    <message>
        <source>参数</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>仪表</source>
        <translation>Instrument</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>不能写入：%1</source>
        <translation>Cannot be written: %1</translation>
    </message>
    <message>
        <source>通讯设置：写入后须按新设置连接</source>
        <translation>Link setting: reconnect with the new setting after writing</translation>
    </message>
    <message>
        <source>恢复选中项</source>
        <translation>Restore selected</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>ParamSetBar</name>
    <message>
        <source>参数集 (*.json)</source>
        <translation>Parameter sets (*.json)</translation>
    </message>
    <message>
        <source>备份参数</source>
        <translation>Back up parameters</translation>
    </message>
    <message>
        <source>选择参数集</source>
        <translation>Choose a parameter set</translation>
    </message>
    <message>
        <source>恢复参数</source>
        <translation>Restore parameters</translation>
    </message>
    <message>
        <source>参数集</source>
        <translation>Parameter set</translation>
    </message>
    <message>
        <source>无法读取仪表参数：%1</source>
        <translation>Cannot read the instrument parameters: %1</translation>
    </message>
    <message>
        <source>上一次读取尚未完成</source>
        <translation>The previous read has not finished</translation>
    </message>
    <message>
        <source>已保存到 %1</source>
        <translation>Saved to %1</translation>
    </message>
    <message>
        <source>仪表与文件一致（%1 项）</source>
        <translation>Instrument and file agree (%1 items)</translation>
    </message>
    <message>
        <source>%1 项不同</source>
        <translation>%1 items differ</translation>
    </message>
    <message>
        <source>此文件读自地址 %1 的仪表，当前仪表地址为 %2。仍要恢复吗？</source>
        <translation>This file was read from the instrument at address %1; the current instrument is at address %2. Restore anyway?</translation>
    </message>
    <message>
        <source>仪表与文件一致，无需恢复</source>
        <translation>Instrument and file agree; nothing to restore</translation>
    </message>
    <message>
        <source>%1 项不同；勾选的项将按顺序写入仪表，然后全部读回核对。</source>
        <translation>%1 items differ; the checked items are written to the instrument in order, then everything is read back and checked.</translation>
    </message>
    <message>
        <source>正在恢复参数…</source>
        <translation>Restoring parameters…</translation>
    </message>
    <message>
        <source>正在读回核对…</source>
        <translation>Reading back and checking…</translation>
    </message>
    <message>
        <source>备份</source>
        <translation>Back up</translation>
    </message>
    <message>
        <source>比较</source>
        <translation>Compare</translation>
    </message>
    <message>
        <source>恢复</source>
        <translation>Restore</translation>
    </message>
</context>
<context>
    <name>ParamTable</name>
    <message>
        <source>正负20MV(-20-+20MV)</source>
        <translation>±20MV(-20-+20MV)</translation>
    </message>
    <message>
        <source>正负100MV(-100-+100MV)</source>
        <translation>±100MV(-100-+100MV)</translation>
    </message>
    <message>
        <source>正负5V(-5-+5V)</source>
        <translation>±5V(-5-+5V)</translation>
    </message>
    <message>
        <source>正负10V(-10-+10V)</source>
        <translation>±10V(-10-+10V)</translation>
    </message>
    <message>
        <source>禁止第二通道</source>
        <translation>2nd input off</translation>
    </message>
    <message>
        <source>1-5V输入</source>
        <translation>1-5V input</translation>
    </message>
    <message>
        <source>0-5V输入</source>
        <translation>0-5V input</translation>
    </message>
    <message>
        <source>加热器断线报警</source>
        <translation>Heater break alarm</translation>
    </message>
    <message>
        <source>阀位反馈</source>
        <translation>Valve feedback</translation>
    </message>
    <message>
        <source>远程给定</source>
        <translation>Remote SV</translation>
    </message>
    <message>
        <source>单输出</source>
        <translation>Single output</translation>
    </message>
    <message>
        <source>双输出</source>
        <translation>Dual output</translation>
    </message>
    <message>
        <source>线性模拟</source>
        <translation>Linear analog</translation>
    </message>
    <message>
        <source>继电器</source>
        <translation>Relay</translation>
    </message>
    <message>
        <source>固态输出</source>
        <translation>SSR</translation>
    </message>
    <message>
        <source>可控硅</source>
        <translation>Thyristor</translation>
    </message>
    <message>
        <source>加热反作用</source>
        <translation>Heating, reverse</translation>
    </message>
    <message>
        <source>制冷正作用</source>
        <translation>Cooling, direct</translation>
    </message>
    <message>
        <source>无报警</source>
        <translation>No alarm</translation>
    </message>
    <message>
        <source>上限报警</source>
        <translation>High alarm</translation>
    </message>
    <message>
        <source>下限报警</source>
        <translation>Low alarm</translation>
    </message>
    <message>
        <source>上偏差报警</source>
        <translation>Dev. high alarm</translation>
    </message>
    <message>
        <source>下偏差报警</source>
        <translation>Dev. low alarm</translation>
    </message>
    <message>
        <source>偏差带报警</source>
        <translation>Dev. band alarm</translation>
    </message>
    <message>
        <source>无校验</source>
        <translation>No parity</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd parity</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even parity</translation>
    </message>
    <message>
        <source>无变送</source>
        <translation>No retransmit</translation>
    </message>
    <message>
        <source>有变送</source>
        <translation>Retransmit</translation>
    </message>
    <message>
        <source>变送测量值</source>
        <translation>Retransmit PV</translation>
    </message>
    <message>
        <source>变送设定值</source>
        <translation>Retransmit SV</translation>
    </message>
    <message>
        <source>变送输出值</source>
        <translation>Retransmit OP</translation>
    </message>
    <message>
        <source>变送(PV-SV)偏差</source>
        <translation>Retransmit PV-SV</translation>
    </message>
    <message>
        <source>摄氏度</source>
        <translation>°C</translation>
    </message>
    <message>
        <source>华氏度</source>
        <translation>°F</translation>
    </message>
    <message>
        <source>绝对温度</source>
        <translation>K</translation>
    </message>
    <message>
        <source>异常转输出预置值</source>
        <translation>Go to preset output</translation>
    </message>
    <message>
        <source>输出保持开路前状态</source>
        <translation>Hold last output</translation>
    </message>
    <message>
        <source>19:正负20MV(-20-+20MV) </source>
        <translation>19:±20MV(-20-+20MV) </translation>
    </message>
    <message>
        <source>20:正负100MV(-100-+100MV)</source>
        <translation>20:±100MV(-100-+100MV)</translation>
    </message>
    <message>
        <source>27:正负5V(-5-+5V) </source>
        <translation>27:±5V(-5-+5V) </translation>
    </message>
    <message>
        <source>28:正负10V(-10-+10V) </source>
        <translation>28:±10V(-10-+10V) </translation>
    </message>
    <message>
        <source>0:禁止使用 </source>
        <translation>0:Off </translation>
    </message>
    <message>
        <source>1:1-5V输入 </source>
        <translation>1:1-5V input </translation>
    </message>
    <message>
        <source>2:0-5V输入 </source>
        <translation>2:0-5V input </translation>
    </message>
    <message>
        <source>0:断线报警 </source>
        <translation>0:Break alarm </translation>
    </message>
    <message>
        <source>1:阀位反馈 </source>
        <translation>1:Valve feedback </translation>
    </message>
    <message>
        <source>2:遥控设定 </source>
        <translation>2:Remote SV </translation>
    </message>
    <message>
        <source>0:线性输出 </source>
        <translation>0:Linear </translation>
    </message>
    <message>
        <source>1:继电器 </source>
        <translation>1:Relay </translation>
    </message>
    <message>
        <source>2:固态输出 </source>
        <translation>2:SSR </translation>
    </message>
    <message>
        <source>3:可控硅 </source>
        <translation>3:Thyristor </translation>
    </message>
    <message>
        <source>0:无</source>
        <translation>0:None</translation>
    </message>
    <message>
        <source>1:上限报警 </source>
        <translation>1:High alarm </translation>
    </message>
    <message>
        <source>2:下限报警 </source>
        <translation>2:Low alarm </translation>
    </message>
    <message>
        <source>3:上偏差</source>
        <translation>3:Dev. high</translation>
    </message>
    <message>
        <source>4:下偏差 </source>
        <translation>4:Dev. low </translation>
    </message>
    <message>
        <source>5:偏差带 </source>
        <translation>5:Dev. band </translation>
    </message>
    <message>
        <source>6:断线报警 </source>
        <translation>6:Break alarm </translation>
    </message>
    <message>
        <source>0:无校验 </source>
        <translation>0:None </translation>
    </message>
    <message>
        <source>1:奇校验 </source>
        <translation>1:Odd </translation>
    </message>
    <message>
        <source>2:偶校验 </source>
        <translation>2:Even </translation>
    </message>
    <message>
        <source>0:变送测量值 </source>
        <translation>0:PV </translation>
    </message>
    <message>
        <source>1:变送设定值 </source>
        <translation>1:SV </translation>
    </message>
    <message>
        <source>2:变送输出值 </source>
        <translation>2:OP </translation>
    </message>
    <message>
        <source>3:变送（PV-SV)值 </source>
        <translation>3:PV-SV </translation>
    </message>
    <message>
        <source>0:摄氏度 </source>
        <translation>0:°C </translation>
    </message>
    <message>
        <source>1:华氏度 </source>
        <translation>1:°F </translation>
    </message>
    <message>
        <source>2:绝对温度 </source>
        <translation>2:K </translation>
    </message>
    <message>
        <source>0:转预置 </source>
        <translation>0:Preset </translation>
    </message>
    <message>
        <source>1:保持开路前 </source>
        <translation>1:Hold </translation>
    </message>
    <message>
        <source>输入类型</source>
        <translation>Input type</translation>
    </message>
    <message>
        <source>小数点</source>
        <translation>Decimal point</translation>
    </message>
    <message>
        <source>量程上限</source>
        <translation>Range high</translation>
    </message>
    <message>
        <source>量程下限</source>
        <translation>Range low</translation>
    </message>
    <message>
        <source>数字滤波</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>偏移修正</source>
        <translation>PV offset</translation>
    </message>
    <message>
        <source>第二输入使能</source>
        <translation>2nd input</translation>
    </message>
    <message>
        <source>第二输入功能</source>
        <translation>2nd input use</translation>
    </message>
    <message>
        <source>第二输入上限</source>
        <translation>2nd input high</translation>
    </message>
    <message>
        <source>第二输入下限</source>
        <translation>2nd input low</translation>
    </message>
    <message>
        <source>控制方式</source>
        <translation>Control</translation>
    </message>
    <message>
        <source>单出</source>
        <translation>Single</translation>
    </message>
    <message>
        <source>双出</source>
        <translation>Dual</translation>
    </message>
    <message>
        <source>输出一类型</source>
        <translation>Output 1 type</translation>
    </message>
    <message>
        <source>输出一信号</source>
        <translation>Output 1 signal</translation>
    </message>
    <message>
        <source>输出一动作</source>
        <translation>Output 1 action</translation>
    </message>
    <message>
        <source>反作用</source>
        <translation>Reverse</translation>
    </message>
    <message>
        <source>正作用</source>
        <translation>Direct</translation>
    </message>
    <message>
        <source>输出二类型</source>
        <translation>Output 2 type</translation>
    </message>
    <message>
        <source>输出二信号</source>
        <translation>Output 2 signal</translation>
    </message>
    <message>
        <source>输出二动作</source>
        <translation>Output 2 action</translation>
    </message>
    <message>
        <source>报警一类型</source>
        <translation>Alarm 1 type</translation>
    </message>
    <message>
        <source>报警二类型</source>
        <translation>Alarm 2 type</translation>
    </message>
    <message>
        <source>通讯地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>校验方式</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>通讯延迟</source>
        <translation>Reply delay</translation>
    </message>
    <message>
        <source>变送使能</source>
        <translation>Retransmit</translation>
    </message>
    <message>
        <source>禁止</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>允许</source>
        <translation>On</translation>
    </message>
    <message>
        <source>变送量程</source>
        <translation>Retr. signal</translation>
    </message>
    <message>
        <source>变送上限</source>
        <translation>Retr. high</translation>
    </message>
    <message>
        <source>变送下限</source>
        <translation>Retr. low</translation>
    </message>
    <message>
        <source>变送参数</source>
        <translation>Retr. value</translation>
    </message>
    <message>
        <source>温度单位切换</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>输出1比例带</source>
        <translation>Out 1 P band</translation>
    </message>
    <message>
        <source>输出2比例带</source>
        <translation>Out 2 P band</translation>
    </message>
    <message>
        <source>积分时间</source>
        <translation>Integral time</translation>
    </message>
    <message>
        <source>微分时间</source>
        <translation>Derivative time</translation>
    </message>
    <message>
        <source>控制周期时间</source>
        <translation>Cycle time</translation>
    </message>
    <message>
        <source>控制回差</source>
        <translation>Hysteresis</translation>
    </message>
    <message>
        <source>输出上限幅</source>
        <translation>Output high limit</translation>
    </message>
    <message>
        <source>输出下限幅</source>
        <translation>Output low limit</translation>
    </message>
    <message>
        <source>输入异常预置</source>
        <translation>Fault output</translation>
    </message>
    <message>
        <source>输入异常处理</source>
        <translation>Input fault</translation>
    </message>
</context>
<context>
    <name>ParameterRestore</name>
    <message>
        <source>已写入</source>
        <translation>Written</translation>
    </message>
    <message>
        <source>仪表拒收</source>
        <translation>Refused by the instrument</translation>
    </message>
    <message>
        <source>无应答，未确认</source>
        <translation>No answer, not confirmed</translation>
    </message>
    <message>
        <source>未写入</source>
        <translation>Not written</translation>
    </message>
    <message>
        <source>已写入 %1 项，仪表拒收 %2 项，未写入 %3 项。</source>
        <translation>%1 written, %2 refused by the instrument, %3 not written.</translation>
    </message>
    <message>
        <source>恢复已取消。</source>
        <translation>Restore cancelled.</translation>
    </message>
    <message>
        <source>仪表无应答，恢复已中止。</source>
        <translation>The instrument does not answer; restore stopped.</translation>
    </message>
    <message>
        <source>  %1 %2 → %3：%4</source>
        <translation>  %1 %2 → %3: %4</translation>
    </message>
    <message>
        <source>  %1 %2 → %3：未写入，%4</source>
        <translation>  %1 %2 → %3: not written, %4</translation>
    </message>
    <message>
        <source>  %1 %2：仪表 %3，文件 %4</source>
        <translation>  %1 %2: instrument %3, file %4</translation>
    </message>
    <message>
        <source>读回失败：%1</source>
        <translation>Read-back failed: %1</translation>
    </message>
    <message>
        <source>读回后与文件一致。</source>
        <translation>Read back: the instrument matches the file.</translation>
    </message>
    <message>
        <source>读回后选中的项与文件一致。</source>
        <translation>Read back: the chosen rows match the file.</translation>
    </message>
    <message>
        <source>读回后仍与文件不同：</source>
        <translation>Read back: still different from the file:</translation>
    </message>
    <message>
        <source>未选中、仍与文件不同：</source>
        <translation>Not chosen, still different from the file:</translation>
    </message>
</context>
<context>
    <name>ParameterSet</name>
    <message>
        <source>参数集文件有误：%1</source>
        <translation>Parameter set file is faulty: %1</translation>
    </message>
    <message>
        <source>编辑器无法写入 %1</source>
        <translation>The editor cannot write %1</translation>
    </message>
    <message>
        <source>读取寄存器 %1 起的数据失败（%2）</source>
        <translation>Reading from register %1 failed (%2)</translation>
    </message>
    <message>
        <source>读取的数据不完整</source>
        <translation>The data read are incomplete</translation>
    </message>
    <message>
        <source>不是完整的 JSON（第 %1 字节：%2）</source>
        <translation>not complete JSON (byte %1: %2)</translation>
    </message>
    <message>
        <source>名称“%1”在同一层中出现两次</source>
        <translation>the name “%1” appears twice in one object</translation>
    </message>
    <message>
        <source>不是参数集</source>
        <translation>not a parameter set</translation>
    </message>
    <message>
        <source>不是参数集（没有 format）</source>
        <translation>not a parameter set (no format)</translation>
    </message>
    <message>
        <source>格式 %1 不受支持（可读格式 %2）</source>
        <translation>format %1 not supported (readable format %2)</translation>
    </message>
    <message>
        <source>%1 不是列表</source>
        <translation>%1 is not a list</translation>
    </message>
    <message>
        <source>%1 中有一项缺少 register 或 raw</source>
        <translation>an entry of %1 lacks register or raw</translation>
    </message>
    <message>
        <source>%1 中的寄存器 %2 未知</source>
        <translation>register %2 in %1 is unknown</translation>
    </message>
    <message>
        <source>寄存器 %1 的值 %2 不是 16 位整数</source>
        <translation>value %2 of register %1 is not a 16-bit integer</translation>
    </message>
    <message>
        <source>寄存器 %1 出现两次</source>
        <translation>register %1 appears twice</translation>
    </message>
    <message>
        <source>没有任何参数</source>
        <translation>no parameters at all</translation>
    </message>
    <message>
        <source>无法打开 %1：%2</source>
        <translation>Cannot open %1: %2</translation>
    </message>
    <message>
        <source>文件过大</source>
        <translation>file too large</translation>
    </message>
    <message>
        <source>无法保存 %1：%2</source>
        <translation>Cannot save %1: %2</translation>
    </message>
    <message>
        <source>通讯设置，仅在明确选择时写入</source>
        <translation>link setting, written only when chosen</translation>
    </message>
</context>
<context>
    <name>PollingCycle</name>
    <message>
        <source>过程值读取失败</source>
        <translation>Process values not read</translation>
    </message>
    <message>
        <source>报警设定读取失败</source>
        <translation>Alarm settings not read</translation>
    </message>
    <message>
        <source>报警类型读取失败</source>
        <translation>Alarm types not read</translation>
    </message>
    <message>
        <source>报警状态读取失败</source>
        <translation>Alarm states not read</translation>
    </message>
    <message>
        <source>运行状态读取失败</source>
        <translation>Operating states not read</translation>
    </message>
</context>
<context>
    <name>PortPanel</name>
    <message>
        <source>通讯端口选择</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>通讯端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>模块地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>校验方式</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>无校验</source>
        <translation>No parity</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd parity</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even parity</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>串口设备：%1</source>
        <translation>Serial device: %1</translation>
    </message>
</context>
<context>
    <name>Recorder</name>
    <message>
        <source>记录正常</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>数据库无法打开，暂存 %1 条</source>
        <translation>Database cannot be opened, %1 held</translation>
    </message>
    <message>
        <source>数据库无法打开</source>
        <translation>Database cannot be opened</translation>
    </message>
    <message>
        <source>数据库不可写，暂存 %1 条</source>
        <translation>Database not writable, %1 held</translation>
    </message>
    <message>
        <source>，已丢弃 %1 条</source>
        <translation>, %1 dropped</translation>
    </message>
    <message>
        <source>历史服务器无法连接</source>
        <translation>History server unreachable</translation>
    </message>
    <message>
        <source>历史服务器拒绝密码</source>
        <translation>History server refused the password</translation>
    </message>
    <message>
        <source>历史服务器无权写入</source>
        <translation>History server: no right to write</translation>
    </message>
    <message>
        <source>历史服务器表结构不符</source>
        <translation>History server: tables of another layout</translation>
    </message>
    <message>
        <source>%1，暂存 %2 条</source>
        <translation>%1, %2 samples kept</translation>
    </message>
</context>
<context>
    <name>RefusedEntry</name>
    <message>
        <source>输入被拒绝：%1</source>
        <translation>Entry refused: %1</translation>
    </message>
</context>
<context>
    <name>SegmentMap</name>
    <message>
        <source>第一组</source>
        <translation>Group 1</translation>
    </message>
    <message>
        <source>第二组</source>
        <translation>Group 2</translation>
    </message>
    <message>
        <source>第三组</source>
        <translation>Group 3</translation>
    </message>
    <message>
        <source>第四组</source>
        <translation>Group 4</translation>
    </message>
    <message>
        <source>第五组</source>
        <translation>Group 5</translation>
    </message>
    <message>
        <source>第六组</source>
        <translation>Group 6</translation>
    </message>
    <message>
        <source>第七组</source>
        <translation>Group 7</translation>
    </message>
    <message>
        <source>第八组</source>
        <translation>Group 8</translation>
    </message>
    <message>
        <source>第九组</source>
        <translation>Group 9</translation>
    </message>
    <message>
        <source>第十组</source>
        <translation>Group 10</translation>
    </message>
    <message>
        <source>打开分组</source>
        <translation>Groups on</translation>
    </message>
    <message>
        <source>关闭分组</source>
        <translation>Groups off</translation>
    </message>
    <message>
        <source>温度</source>
        <translation>Temp.</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>High</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>PID组</source>
        <translation>PID group</translation>
    </message>
    <message>
        <source>比例P</source>
        <translation>P</translation>
    </message>
    <message>
        <source>积分I</source>
        <translation>I</translation>
    </message>
    <message>
        <source>微分D</source>
        <translation>D</translation>
    </message>
    <message>
        <source>分组输出允许</source>
        <translation>Grouped output enable</translation>
    </message>
</context>
<context>
    <name>SegmentsWindow</name>
    <message>
        <source>分段输出和分组PID</source>
        <translation>Output groups and PID groups</translation>
    </message>
    <message>
        <source>分组输出</source>
        <translation>Output groups</translation>
    </message>
    <message>
        <source>分组PID</source>
        <translation>PID groups</translation>
    </message>
    <message>
        <source>修改数据后，失去焦点，数据就修改</source>
        <translation>A changed value is written when its box loses focus</translation>
    </message>
    <message>
        <source>分组输出允许</source>
        <translation>Output groups</translation>
    </message>
    <message>
        <source>0:关闭分组 </source>
        <translation>0:Groups off </translation>
    </message>
    <message>
        <source>1:打开分组 </source>
        <translation>1:Groups on </translation>
    </message>
    <message>
        <source>修改</source>
        <translation>Set</translation>
    </message>
</context>
<context>
    <name>Simc</name>
    <message>
        <source>快速</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>稳健</source>
        <translation>Robust</translation>
    </message>
</context>
<context>
    <name>Splash</name>
    <message>
        <source>系统正在初始化数据引擎，请稍后。。。。。。</source>
        <translation>Starting the data engine, please wait...</translation>
    </message>
</context>
<context>
    <name>StatusLine</name>
    <message>
        <source>响应 %1 / %2 ms</source>
        <translation>Response %1 / %2 ms</translation>
    </message>
    <message>
        <source>线路上本仪表：应答 %1　超时 %2　校验错 %3　异常应答 %4
响应时间 p50 %5 ms，p95 %6 ms</source>
        <translation>This instrument on the line: answered %1, timeouts %2, CRC errors %3, exception replies %4
Response time p50 %5 ms, p95 %6 ms</translation>
    </message>
    <message>
        <source>尚无有效数据</source>
        <translation>No data yet</translation>
    </message>
    <message>
        <source>数据更新于 %1 秒前</source>
        <translation>Data %1 s old</translation>
    </message>
    <message>
        <source>数据更新于 %1 分 %2 秒前</source>
        <translation>Data %1 min %2 s old</translation>
    </message>
    <message>
        <source>数据更新于 %1 小时 %2 分前</source>
        <translation>Data %1 h %2 min old</translation>
    </message>
    <message>
        <source>记录器未启动</source>
        <translation>Recorder not started</translation>
    </message>
    <message>
        <source>
最后一次完整读取：%1</source>
        <translation>
Last complete read: %1</translation>
    </message>
    <message>
        <source>未确认报警 %1 条</source>
        <translation>%1 unacknowledged alarms</translation>
    </message>
</context>
<context>
    <name>StepTest</name>
    <message>
        <source>阶跃测试正在进行</source>
        <translation>A step test is running</translation>
    </message>
    <message>
        <source>阶跃幅度不能为0</source>
        <translation>The step must not be 0</translation>
    </message>
    <message>
        <source>阶跃后的输出超出0~100%</source>
        <translation>Output after the step outside 0~100%</translation>
    </message>
    <message>
        <source>PV不在允许范围内</source>
        <translation>PV outside the allowed band</translation>
    </message>
    <message>
        <source>测试时间无效</source>
        <translation>Invalid test time</translation>
    </message>
    <message>
        <source>操作员停止</source>
        <translation>stopped by the operator</translation>
    </message>
    <message>
        <source>PV超出允许范围</source>
        <translation>PV left the allowed band</translation>
    </message>
    <message>
        <source>通讯中断</source>
        <translation>link lost</translation>
    </message>
    <message>
        <source>上次测试的恢复尚未完成</source>
        <translation>The last test&apos;s restore is not done yet</translation>
    </message>
    <message>
        <source>仪表不允许手动(线圈3 = 0), 无法做阶跃测试</source>
        <translation>The instrument does not permit manual (coil 3 = 0): no step test</translation>
    </message>
    <message>
        <source>仪表未处于手动, 数据不是开环响应</source>
        <translation>The instrument is not in manual: the data would not be the open-loop response</translation>
    </message>
    <message>
        <source>仪表未应答写入</source>
        <translation>The instrument did not answer a write</translation>
    </message>
</context>
<context>
    <name>TrendCsvExport</name>
    <message>
        <source>已导出 %1 行；跳过 %2 行无效数据（时间不可能或数值不是有限数）</source>
        <translation>Exported %1 rows; skipped %2 invalid rows (impossible time or a value that is not a finite number)</translation>
    </message>
    <message>
        <source>没有历史数据库</source>
        <translation>No history database</translation>
    </message>
    <message>
        <source>当前页面</source>
        <translation>Page on screen</translation>
    </message>
    <message>
        <source>时间范围</source>
        <translation>Time range</translation>
    </message>
    <message>
        <source>当前页面 (%1 - %2)</source>
        <translation>Page on screen (%1 - %2)</translation>
    </message>
    <message>
        <source>从</source>
        <translation>From</translation>
    </message>
    <message>
        <source>到</source>
        <translation>To</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>正在导出CSV...</source>
        <translation>Exporting CSV...</translation>
    </message>
    <message>
        <source>导出失败: %1</source>
        <translation>Export failed: %1</translation>
    </message>
</context>
<context>
    <name>TrendDialogs</name>
    <message>
        <source>打印</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>打印...</source>
        <translation>Print...</translation>
    </message>
    <message>
        <source>保存为PDF...</source>
        <translation>Save as PDF...</translation>
    </message>
    <message>
        <source>保存为PNG...</source>
        <translation>Save as PNG...</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>打印失败：无法开始打印</source>
        <translation>Printing failed: the print job could not start</translation>
    </message>
    <message>
        <source>打印失败：无法写入 %1</source>
        <translation>Printing failed: cannot write %1</translation>
    </message>
    <message>
        <source>保存失败：%1</source>
        <translation>Saving failed: %1</translation>
    </message>
</context>
<context>
    <name>TrendOutput</name>
    <message>
        <source>没有画面</source>
        <translation>no picture</translation>
    </message>
    <message>
        <source>没有文件名</source>
        <translation>no file name</translation>
    </message>
    <message>
        <source>图像未能写出</source>
        <translation>the picture could not be written</translation>
    </message>
</context>
<context>
    <name>TrendView</name>
    <message>
        <source>F4 标尺</source>
        <translation>F4 Ruler</translation>
    </message>
    <message>
        <source>F4 复原</source>
        <translation>F4 Reset</translation>
    </message>
    <message>
        <source>双击修改Y范围</source>
        <translation>Double-click to change the Y range</translation>
    </message>
    <message>
        <source>功能</source>
        <translation>Functions</translation>
    </message>
    <message>
        <source>F1 缩小</source>
        <translation>F1 Zoom out</translation>
    </message>
    <message>
        <source>F2 放大</source>
        <translation>F2 Zoom in</translation>
    </message>
    <message>
        <source>F3 打印</source>
        <translation>F3 Print</translation>
    </message>
    <message>
        <source>F5 选择</source>
        <translation>F5 Select</translation>
    </message>
    <message>
        <source>F6 左移</source>
        <translation>F6 Left</translation>
    </message>
    <message>
        <source>F7 右移</source>
        <translation>F7 Right</translation>
    </message>
</context>
<context>
    <name>TrendYEditor</name>
    <message>
        <source>Y最大</source>
        <translation>Y max</translation>
    </message>
    <message>
        <source>Y最小</source>
        <translation>Y min</translation>
    </message>
    <message>
        <source>修改Y</source>
        <translation>Set Y</translation>
    </message>
</context>
<context>
    <name>TuneCommand</name>
    <message>
        <source>样本 %1 个 (每秒一个)</source>
        <translation>%1 samples (one a second)</translation>
    </message>
    <message>
        <source>增益 K = %1 /%
时间常数 τ = %2 s
纯滞后 θ = %3 s
R² = %4
残差 = %5
</source>
        <translation>Gain K = %1 /%
Time constant τ = %2 s
Dead time θ = %3 s
R² = %4
Residual = %5
</translation>
    </message>
    <message>
        <source>%1 %2: 比例带 %3  积分时间 %4 s  微分时间 %5 s%6
</source>
        <translation>%1 %2: proportional band %3  integral time %4 s  derivative time %5 s%6
</translation>
    </message>
    <message>
        <source>  (已限幅)</source>
        <translation>  (clamped)</translation>
    </message>
</context>
<context>
    <name>TuningChart</name>
    <message>
        <source>模型PV</source>
        <translation>Model PV</translation>
    </message>
</context>
<context>
    <name>TuningWindow</name>
    <message>
        <source>PID整定助手</source>
        <translation>PID tuning assistant</translation>
    </message>
    <message>
        <source>阶跃测试</source>
        <translation>Step test</translation>
    </message>
    <message>
        <source>输出阶跃</source>
        <translation>Output step</translation>
    </message>
    <message>
        <source>记录时间</source>
        <translation>Record time</translation>
    </message>
    <message>
        <source>PV下限</source>
        <translation>PV low</translation>
    </message>
    <message>
        <source>PV上限</source>
        <translation>PV high</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>历史记录时段</source>
        <translation>History period</translation>
    </message>
    <message>
        <source>从</source>
        <translation>From</translation>
    </message>
    <message>
        <source>到</source>
        <translation>To</translation>
    </message>
    <message>
        <source>分析</source>
        <translation>Analyse</translation>
    </message>
    <message>
        <source>辨识与建议</source>
        <translation>Model and suggestion</translation>
    </message>
    <message>
        <source>快速</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>稳健</source>
        <translation>Robust</translation>
    </message>
    <message>
        <source>当前</source>
        <translation>Present</translation>
    </message>
    <message>
        <source>建议</source>
        <translation>Suggested</translation>
    </message>
    <message>
        <source>比例带</source>
        <translation>P band</translation>
    </message>
    <message>
        <source>积分时间</source>
        <translation>Integral time</translation>
    </message>
    <message>
        <source>微分时间</source>
        <translation>Derivative time</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>基线记录中</source>
        <translation>Recording baseline</translation>
    </message>
    <message>
        <source>阶跃后记录中</source>
        <translation>Recording after step</translation>
    </message>
    <message>
        <source>尚未读到仪表数据</source>
        <translation>No instrument data yet</translation>
    </message>
    <message>
        <source>已中止并恢复: %1</source>
        <translation>Aborted and restored: %1</translation>
    </message>
    <message>
        <source>测试完成, 已恢复原模式和输出</source>
        <translation>Test done, mode and output restored</translation>
    </message>
    <message>
        <source>辨识中…</source>
        <translation>Identifying…</translation>
    </message>
    <message>
        <source>K = %1 /%   τ = %2 s   θ = %3 s   R² = %4   残差 = %5
%6</source>
        <translation>K = %1 /%   τ = %2 s   θ = %3 s   R² = %4   residual = %5
%6</translation>
    </message>
    <message>
        <source>建议值超出参数范围, 未写入</source>
        <translation>Suggestion outside the parameter range, not written</translation>
    </message>
    <message>
        <source>已写入</source>
        <translation>Written</translation>
    </message>
    <message>
        <source>正在写入…</source>
        <translation>Writing…</translation>
    </message>
    <message>
        <source>写入失败：%1</source>
        <translation>Write failed: %1</translation>
    </message>
    <message>
        <source>分组</source>
        <translation>grouped</translation>
    </message>
    <message>
        <source>测试完成</source>
        <translation>Test complete</translation>
    </message>
    <message>
        <source>%1; 恢复未完成: 仪表仍在测试的模式和输出, 通讯恢复后重发</source>
        <translation>%1; restore not done: the instrument is still in the test&apos;s mode and output, sent again when the line answers</translation>
    </message>
    <message>
        <source>分组PID已打开(4609 ≠ 0): 仪表按PV所在段使用PID组, 不用这三个参数; 请在&quot;分段输出和分组PID&quot;窗口中修改相应的组</source>
        <translation>Grouped PID is on (4609 ≠ 0): the instrument uses the PID group of the PV&apos;s segment, not these three parameters; change that group in the &quot;Segmented output and grouped PID&quot; window</translation>
    </message>
    <message>
        <source>分组PID已打开</source>
        <translation>Grouped PID is on</translation>
    </message>
    <message>
        <source>恢复未完成, 窗口在仪表恢复原模式和输出后才能关闭</source>
        <translation>Restore not done: the window closes once the instrument is back in its mode at its output</translation>
    </message>
</context>
<context>
    <name>ValuePanel</name>
    <message>
        <source>过程值</source>
        <translation>Process values</translation>
    </message>
    <message>
        <source>新SV</source>
        <translation>New SV</translation>
    </message>
    <message>
        <source>PV值</source>
        <translation>PV</translation>
    </message>
    <message>
        <source>OP值</source>
        <translation>OP</translation>
    </message>
</context>
</TS>
