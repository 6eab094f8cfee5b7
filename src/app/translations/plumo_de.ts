<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>IniWriteError</name>
    <message>
        <source>%1 に書き込めません</source>
        <translation>%1 kann nicht geschrieben werden</translation>
    </message>
</context>
<context>
    <name>TTrayIcon</name>
    <message>
        <source>タスクトレイにアイコンを登録できません。</source>
        <translation>Das Symbol kann nicht in den Infobereich gelegt werden.</translation>
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
        <translation>Aus</translation>
    </message>
    <message>
        <source>トラック</source>
        <translation>Titel</translation>
    </message>
    <message>
        <source>アルバム</source>
        <translation>Album</translation>
    </message>
    <message>
        <source>PLUMO player</source>
        <translation>PLUMO-Player</translation>
    </message>
    <message>
        <source>About PLUMO</source>
        <translation>Über PLUMO</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>A tiny MPEG audio player for Linux.</source>
        <translation>Ein winziger MPEG-Audioplayer für Linux.</translation>
    </message>
    <message>
        <source>Version 1.08 [May.18,Tue.2004]</source>
        <translation>Version 1.08 [Di., 18. Mai 2004]</translation>
    </message>
    <message>
        <source>PLUMOについて</source>
        <translation>Über PLUMO</translation>
    </message>
    <message>
        <source>パネルを隠す</source>
        <translation>Panel ausblenden</translation>
    </message>
    <message>
        <source>常に先頭に表示</source>
        <translation>Immer im Vordergrund</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Lautstärke</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Maximal</translation>
    </message>
    <message>
        <source>大</source>
        <translation>Laut</translation>
    </message>
    <message>
        <source>中</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>小</source>
        <translation>Leise</translation>
    </message>
    <message>
        <source>極小</source>
        <translation>Sehr leise</translation>
    </message>
    <message>
        <source>消音</source>
        <translation>Stumm</translation>
    </message>
    <message>
        <source>履歴</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>履歴を消去</source>
        <translation>Verlauf löschen</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>%1 ほか %2 件</source>
        <translation>%1 und %2 weitere</translation>
    </message>
    <message>
        <source>%1 に再生できるファイルがありません</source>
        <translation>Keine abspielbaren Dateien in %1</translation>
    </message>
    <message>
        <source>接続中… </source>
        <translation>Verbinde… </translation>
    </message>
    <message>
        <source>PLAY</source>
        <translation>WIEDERGABE</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOPP</translation>
    </message>
    <message>
        <source>PAUSE</source>
        <translation>PAUSE</translation>
    </message>
    <message>
        <source>パネルを表示</source>
        <translation>Panel einblenden</translation>
    </message>
    <message>
        <source>履歴を消去しますか?</source>
        <translation>Den Verlauf löschen?</translation>
    </message>
</context>
</TS>
