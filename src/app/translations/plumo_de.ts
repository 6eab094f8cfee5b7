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
        <source>ファイルを開く(&amp;O)…</source>
        <translation>Dateien ö&amp;ffnen…</translation>
    </message>
    <message>
        <source>ファイルを追加(&amp;A)…</source>
        <translation>Dateien &amp;hinzufügen…</translation>
    </message>
    <message>
        <source>フォルダを開く(&amp;F)…</source>
        <translation>&amp;Ordner öffnen…</translation>
    </message>
    <message>
        <source>アドレスを開く(&amp;L)…</source>
        <translation>&amp;Adresse öffnen…</translation>
    </message>
    <message>
        <source>プレイリスト(&amp;P)</source>
        <translation>&amp;Wiedergabeliste</translation>
    </message>
    <message>
        <source>シャッフル(&amp;S)</source>
        <translation>&amp;Zufallswiedergabe</translation>
    </message>
    <message>
        <source>リピート(&amp;R)</source>
        <translation>Wieder&amp;holen</translation>
    </message>
    <message>
        <source>全曲</source>
        <translation>Alle</translation>
    </message>
    <message>
        <source>1曲</source>
        <translation>Einen</translation>
    </message>
    <message>
        <source>イコライザ(&amp;E)</source>
        <translation>&amp;Equalizer</translation>
    </message>
    <message>
        <source>低音強調</source>
        <translation>Bässe verstärken</translation>
    </message>
    <message>
        <source>高音強調</source>
        <translation>Höhen verstärken</translation>
    </message>
    <message>
        <source>ラウドネス</source>
        <translation>Loudness</translation>
    </message>
    <message>
        <source>ボーカル</source>
        <translation>Stimme</translation>
    </message>
    <message>
        <source>クラシック</source>
        <translation>Klassik</translation>
    </message>
    <message>
        <source>ロック</source>
        <translation>Rock</translation>
    </message>
    <message>
        <source>スリープタイマー(&amp;T)</source>
        <translation>Ein&amp;schlafzeit</translation>
    </message>
    <message>
        <source>15分</source>
        <translation>15 Minuten</translation>
    </message>
    <message>
        <source>30分</source>
        <translation>30 Minuten</translation>
    </message>
    <message>
        <source>60分</source>
        <translation>60 Minuten</translation>
    </message>
    <message>
        <source>90分</source>
        <translation>90 Minuten</translation>
    </message>
    <message>
        <source>この曲の後</source>
        <translation>Nach diesem Titel</translation>
    </message>
    <message>
        <source>起動時に再生を再開</source>
        <translation>Beim Start weiterspielen</translation>
    </message>
    <message>
        <source>曲の変更を通知</source>
        <translation>Titelwechsel melden</translation>
    </message>
    <message>
        <source>ファイルをここにドロップ</source>
        <translation>Dateien hierher ziehen</translation>
    </message>
    <message>
        <source>%1 はストリームのアドレスではありません</source>
        <translation>%1 ist keine Stream-Adresse</translation>
    </message>
    <message>
        <source>MPEG オーディオとプレイリスト (%1)</source>
        <translation>MPEG-Audio und Wiedergabelisten (%1)</translation>
    </message>
    <message>
        <source>ファイルを追加</source>
        <translation>Dateien hinzufügen</translation>
    </message>
    <message>
        <source>ファイルを開く</source>
        <translation>Dateien öffnen</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Ordner öffnen</translation>
    </message>
    <message>
        <source>アドレスを開く</source>
        <translation>Adresse öffnen</translation>
    </message>
    <message>
        <source>インターネットラジオや音声ファイルのアドレス (http://, https://):</source>
        <translation>Adresse eines Internetradios oder einer Audiodatei (http://, https://):</translation>
    </message>
    <message>
        <source>この曲の後にスリープ</source>
        <translation>Schlafen nach diesem Titel</translation>
    </message>
    <message>
        <source>スリープまで %1 分</source>
        <translation>Schlafen in %1 Min.</translation>
    </message>
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
        <source>自動</source>
        <translation>Automatisch</translation>
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
        <source>再接続中… </source>
        <translation>Verbinde neu… </translation>
    </message>
    <message>
        <source>AAC の放送は再生できません</source>
        <translation>AAC-Sendungen können nicht abgespielt werden</translation>
    </message>
    <message>
        <source>HLS の放送は再生できません</source>
        <translation>HLS-Sendungen können nicht abgespielt werden</translation>
    </message>
    <message>
        <source>安全でない転送先は拒否されました</source>
        <translation>eine unsichere Weiterleitung wurde abgelehnt</translation>
    </message>
    <message>
        <source>プレイリストに放送局がありません</source>
        <translation>die Wiedergabeliste nennt keinen Sender</translation>
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
    <message>
        <source>サーバーに見つかりません</source>
        <translation>auf dem Server nicht gefunden</translation>
    </message>
    <message>
        <source>サーバーに拒否されました</source>
        <translation>vom Server abgelehnt</translation>
    </message>
    <message>
        <source>証明書が信頼されていません</source>
        <translation>Zertifikat nicht vertrauenswürdig</translation>
    </message>
    <message>
        <source>タイムアウトしました</source>
        <translation>Zeitüberschreitung</translation>
    </message>
    <message>
        <source>接続できません</source>
        <translation>keine Verbindung möglich</translation>
    </message>
    <message>
        <source>MPEG オーディオではありません</source>
        <translation>kein MPEG-Audio</translation>
    </message>
    <message>
        <source>ファイルが見つかりません</source>
        <translation>Datei nicht gefunden</translation>
    </message>
    <message>
        <source>読み取りが許可されていません</source>
        <translation>Lesen nicht erlaubt</translation>
    </message>
    <message>
        <source>開けません</source>
        <translation>kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>再生/一時停止</source>
        <translation>Wiedergabe/Pause</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stopp</translation>
    </message>
</context>
</TS>
