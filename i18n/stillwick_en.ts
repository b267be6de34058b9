<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>TFrmMain</name>
    <message>
        <location filename="../src/uMain.cpp" line="46" />
        <source>连续捕获多张图片</source>
        <translation>Capture series</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="47" />
        <source>停止连续捕获图片</source>
        <translation>Stop series</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="132" />
        <source>启动采集</source>
        <translation>Start</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="133" />
        <location filename="../src/uMain.cpp" line="399" />
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="134" />
        <source>同步显示</source>
        <translation>Live</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="136" />
        <source>存储目录</source>
        <translation>Folder</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="137" />
        <source>捕获单张图片</source>
        <translation>Capture one</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="145" />
        <source>目录</source>
        <translation>Dir</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="151" />
        <source>连续抓拍时，每秒       张，共拍        秒。</source>
        <translation>Burst: take            /s, for         s.</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="162" />
        <source>文件前缀</source>
        <translation>Prefix</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="166" />
        <source>起始编号</source>
        <translation>Start #</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="173" />
        <source>位数</source>
        <translation>Dig.</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="181" />
        <source>视频输入</source>
        <translation>Source</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="187" />
        <source>刷新</source>
        <translation>Scan</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="359" />
        <source>未找到视频设备</source>
        <translation>No video device found</translation>
    </message>
    <message>
        <location filename="../src/uMain.cpp" line="403" />
        <source>继续</source>
        <translation>Play</translation>
    </message>
</context>
<context>
    <name>TFrmSelDir</name>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="23" />
        <source>选择目录：</source>
        <translation>Folder:</translation>
    </message>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="28" />
        <source>选择目录</source>
        <translation>Choose Folder</translation>
    </message>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="45" />
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <location filename="../src/uFrmSelDir.cpp" line="48" />
        <source>确认</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TShellTreeView</name>
    <message>
        <location filename="../src/ShellFolders.cpp" line="106" />
        <location filename="../src/TShellTreeView.cpp" line="311" />
        <source>新建文件夹</source>
        <translation>New Folder</translation>
    </message>
    <message>
        <location filename="../src/TShellTreeView.cpp" line="209" />
        <source>计算机</source>
        <translation>Computer</translation>
    </message>
    <message>
        <location filename="../src/TShellTreeView.cpp" line="310" />
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <location filename="../src/TShellTreeView.cpp" line="312" />
        <source>重命名</source>
        <translation>Rename</translation>
    </message>
    <message>
        <location filename="../src/TShellTreeView.cpp" line="313" />
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <location filename="../src/TShellTreeView.cpp" line="315" />
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
</context>
<context>
    <name>utPublic</name>
    <message>
        <location filename="../src/utPublic.cpp" line="107" />
        <source>对不起,发现该计算机没有高性能计数器.
请升级您的计算机和操作系统.系统退出</source>
        <translation>Sorry, this computer has no high-resolution performance counter.
Please upgrade your computer and operating system. The program ends.</translation>
    </message>
</context>
</TS>