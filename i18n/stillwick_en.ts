<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>TFrmDevSettings</name>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="129"/>
        <source>画面格式</source>
        <translation>Picture format</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="138"/>
        <source>该设备没有可调的设置。</source>
        <translation>This device has no settings to adjust.</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="147"/>
        <source>默认值</source>
        <translation>Defaults</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="148"/>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="193"/>
        <source>启动采集时未能设置：%1</source>
        <translation>Not set at the start of capture: %1</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="198"/>
        <source>设备设置 - %1</source>
        <translation>Device Settings - %1</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="202"/>
        <source>设备已不在。</source>
        <translation>The device is gone.</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="226"/>
        <source>自动(最大画面)</source>
        <translation>Automatic (largest picture)</translation>
    </message>
    <message>
        <location filename="../src/uFrmDevSettings.cpp" line="376"/>
        <source>下次启动采集时生效</source>
        <translation>Takes effect at the next start of capture</translation>
    </message>
</context>
<context>
    <name>TFrmMain</name>
    <message>
        <location filename="../src/uMain.cpp" line="51"/>
        <source>连续捕获多张图片</source>
        <translation>Capture series</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="52"/>
        <source>停止连续捕获图片</source>
        <translation>Stop series</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="137"/>
        <source>启动采集</source>
        <translation>Start</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="138"/>
        <location filename="../src/uMain.cpp" line="469"/>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="139"/>
        <source>同步显示</source>
        <translation>Live</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="141"/>
        <source>存储目录</source>
        <translation>Folder</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="142"/>
        <source>捕获单张图片</source>
        <translation>Capture one</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="150"/>
        <source>目录</source>
        <translation>Dir</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="157"/>
        <source>连续抓拍时，每秒       张，共拍        秒。</source>
        <translation>Burst: take            /s, for         s.</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="168"/>
        <source>文件前缀</source>
        <translation>Prefix</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="172"/>
        <source>起始编号</source>
        <translation>Start #</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="179"/>
        <source>位数</source>
        <translation>Dig.</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="187"/>
        <source>视频输入</source>
        <translation>Source</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="193"/>
        <source>刷新</source>
        <translation>Scan</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="368"/>
        <source>未找到视频设备</source>
        <translation>No video device found</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="398"/>
        <source>设备设置…</source>
        <translation>Device Settings…</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="473"/>
        <source>继续</source>
        <translation>Play</translation>
    </message>
</context>
<context>
    <name>TFrmSelDir</name>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="24"/>
        <source>选择目录：</source>
        <translation>Folder:</translation>
    </message>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="29"/>
        <source>选择目录</source>
        <translation>Choose Folder</translation>
    </message>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="46"/>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="49"/>
        <source>确认</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TShellTreeView</name>
    <message>
        <location filename="../src/widgets/ShellFolders.cpp" line="107"/>
        <location filename="../src/widgets/TShellTreeView.cpp" line="310"/>
        <source>新建文件夹</source>
        <translation>New Folder</translation>
    </message>
    <message>
        <location filename="../src/widgets/TShellTreeView.cpp" line="208"/>
        <source>计算机</source>
        <translation>Computer</translation>
    </message>
    <message>
        <location filename="../src/widgets/TShellTreeView.cpp" line="309"/>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <location filename="../src/widgets/TShellTreeView.cpp" line="311"/>
        <source>重命名</source>
        <translation>Rename</translation>
    </message>
    <message>
        <location filename="../src/widgets/TShellTreeView.cpp" line="312"/>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <location filename="../src/widgets/TShellTreeView.cpp" line="314"/>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
</context>
<context>
    <name>utPublic</name>
    <message>
        <location filename="../src/utPublic.cpp" line="97"/>
        <source>对不起,发现该计算机没有高性能计数器.
请升级您的计算机和操作系统.系统退出</source>
        <translation>Sorry, this computer has no high-resolution performance counter.
Please upgrade your computer and operating system. The program ends.</translation>
    </message>
</context>
</TS>
