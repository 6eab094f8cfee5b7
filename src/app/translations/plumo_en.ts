<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>IniWriteError</name>
    <message>
        <source>%1 に書き込めません</source>
        <translation>Cannot write to %1</translation>
    </message>
</context>
<context>
    <name>TTrayIcon</name>
    <message>
        <source>タスクトレイにアイコンを登録できません。</source>
        <translation>Cannot add the icon to the notification area.</translation>
    </message>
</context>
<context>
    <name>plumo::TPlatform</name>
    <message>
        <source>ReplayGain</source>
        <translation>ReplayGain</translation>
    </message>
    <message>
        <source>オフ</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>トラック</source>
        <translation>Track</translation>
    </message>
    <message>
        <source>アルバム</source>
        <translation>Album</translation>
    </message>
    <message>
        <source>PLUMO player</source>
        <translation>PLUMO player</translation>
    </message>
    <message>
        <source>About PLUMO</source>
        <translation>About PLUMO</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>A tiny MPEG audio player for Linux.</source>
        <translation>A tiny MPEG audio player for Linux.</translation>
    </message>
    <message>
        <source>Version 1.08 [May.18,Tue.2004]</source>
        <translation>Version 1.08 [May.18,Tue.2004]</translation>
    </message>
    <message>
        <source>PLUMOについて</source>
        <translation>About PLUMO</translation>
    </message>
    <message>
        <source>パネルを隠す</source>
        <translation>Hide Panel</translation>
    </message>
    <message>
        <source>常に先頭に表示</source>
        <translation>Always on Top</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>大</source>
        <translation>High</translation>
    </message>
    <message>
        <source>中</source>
        <translation>Medium</translation>
    </message>
    <message>
        <source>小</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>極小</source>
        <translation>Very Low</translation>
    </message>
    <message>
        <source>消音</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>履歴</source>
        <translation>History</translation>
    </message>
    <message>
        <source>履歴を消去</source>
        <translation>Clear History</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>%1 ほか %2 件</source>
        <translation>%1 and %2 more</translation>
    </message>
    <message>
        <source>%1 に再生できるファイルがありません</source>
        <translation>No playable files in %1</translation>
    </message>
    <message>
        <source>接続中… </source>
        <translation>Connecting… </translation>
    </message>
    <message>
        <source>PLAY</source>
        <translation>PLAY</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>PAUSE</source>
        <translation>PAUSE</translation>
    </message>
    <message>
        <source>パネルを表示</source>
        <translation>Show Panel</translation>
    </message>
    <message>
        <source>履歴を消去しますか?</source>
        <translation>Clear the history?</translation>
    </message>
</context>
</TS>
