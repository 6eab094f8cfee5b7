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
        <source>ファイルを開く(&amp;O)…</source>
        <translation>&amp;Open Files…</translation>
    </message>
    <message>
        <source>ファイルを追加(&amp;A)…</source>
        <translation>&amp;Add Files…</translation>
    </message>
    <message>
        <source>フォルダを開く(&amp;F)…</source>
        <translation>Open &amp;Folder…</translation>
    </message>
    <message>
        <source>アドレスを開く(&amp;L)…</source>
        <translation>Open &amp;Location…</translation>
    </message>
    <message>
        <source>プレイリスト(&amp;P)</source>
        <translation>&amp;Playlist</translation>
    </message>
    <message>
        <source>シャッフル(&amp;S)</source>
        <translation>&amp;Shuffle</translation>
    </message>
    <message>
        <source>リピート(&amp;R)</source>
        <translation>&amp;Repeat</translation>
    </message>
    <message>
        <source>全曲</source>
        <translation>All</translation>
    </message>
    <message>
        <source>1曲</source>
        <translation>One</translation>
    </message>
    <message>
        <source>イコライザ(&amp;E)</source>
        <translation>&amp;Equalizer</translation>
    </message>
    <message>
        <source>低音強調</source>
        <translation>Bass Boost</translation>
    </message>
    <message>
        <source>高音強調</source>
        <translation>Treble Boost</translation>
    </message>
    <message>
        <source>ラウドネス</source>
        <translation>Loudness</translation>
    </message>
    <message>
        <source>ボーカル</source>
        <translation>Voice</translation>
    </message>
    <message>
        <source>クラシック</source>
        <translation>Classical</translation>
    </message>
    <message>
        <source>ロック</source>
        <translation>Rock</translation>
    </message>
    <message>
        <source>スリープタイマー(&amp;T)</source>
        <translation>Sleep &amp;Timer</translation>
    </message>
    <message>
        <source>15分</source>
        <translation>15 Minutes</translation>
    </message>
    <message>
        <source>30分</source>
        <translation>30 Minutes</translation>
    </message>
    <message>
        <source>60分</source>
        <translation>60 Minutes</translation>
    </message>
    <message>
        <source>90分</source>
        <translation>90 Minutes</translation>
    </message>
    <message>
        <source>この曲の後</source>
        <translation>After This Track</translation>
    </message>
    <message>
        <source>起動時に再生を再開</source>
        <translation>Resume Playing at Start</translation>
    </message>
    <message>
        <source>曲の変更を通知</source>
        <translation>Notify Track Changes</translation>
    </message>
    <message>
        <source>ファイルをここにドロップ</source>
        <translation>Drop files here</translation>
    </message>
    <message>
        <source>%1 はストリームのアドレスではありません</source>
        <translation>%1 is not a stream address</translation>
    </message>
    <message>
        <source>MPEG オーディオとプレイリスト (%1)</source>
        <translation>MPEG audio and playlists (%1)</translation>
    </message>
    <message>
        <source>ファイルを追加</source>
        <translation>Add Files</translation>
    </message>
    <message>
        <source>ファイルを開く</source>
        <translation>Open Files</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>アドレスを開く</source>
        <translation>Open Location</translation>
    </message>
    <message>
        <source>インターネットラジオや音声ファイルのアドレス (http://, https://):</source>
        <translation>Address of an internet radio station or an audio file (http://, https://):</translation>
    </message>
    <message>
        <source>この曲の後にスリープ</source>
        <translation>sleep after this track</translation>
    </message>
    <message>
        <source>スリープまで %1 分</source>
        <translation>sleep in %1 min</translation>
    </message>
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
        <source>自動</source>
        <translation>Auto</translation>
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
        <source>再接続中… </source>
        <translation>Reconnecting… </translation>
    </message>
    <message>
        <source>AAC の放送は再生できません</source>
        <translation>AAC broadcasts cannot be played</translation>
    </message>
    <message>
        <source>HLS の放送は再生できません</source>
        <translation>HLS broadcasts cannot be played</translation>
    </message>
    <message>
        <source>安全でない転送先は拒否されました</source>
        <translation>an insecure redirect was refused</translation>
    </message>
    <message>
        <source>プレイリストに放送局がありません</source>
        <translation>the playlist names no station</translation>
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
    <message>
        <source>サーバーに見つかりません</source>
        <translation>not found on the server</translation>
    </message>
    <message>
        <source>サーバーに拒否されました</source>
        <translation>refused by the server</translation>
    </message>
    <message>
        <source>証明書が信頼されていません</source>
        <translation>certificate not trusted</translation>
    </message>
    <message>
        <source>タイムアウトしました</source>
        <translation>timed out</translation>
    </message>
    <message>
        <source>接続できません</source>
        <translation>cannot connect</translation>
    </message>
    <message>
        <source>MPEG オーディオではありません</source>
        <translation>not MPEG audio</translation>
    </message>
    <message>
        <source>ファイルが見つかりません</source>
        <translation>file not found</translation>
    </message>
    <message>
        <source>読み取りが許可されていません</source>
        <translation>not allowed to read it</translation>
    </message>
    <message>
        <source>開けません</source>
        <translation>cannot be opened</translation>
    </message>
    <message>
        <source>再生/一時停止</source>
        <translation>Play/Pause</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
</context>
</TS>
