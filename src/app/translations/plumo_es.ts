<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>IniWriteError</name>
    <message>
        <source>%1 に書き込めません</source>
        <translation>No se puede escribir en %1</translation>
    </message>
</context>
<context>
    <name>TTrayIcon</name>
    <message>
        <source>タスクトレイにアイコンを登録できません。</source>
        <translation>No se puede añadir el icono al área de notificación.</translation>
    </message>
</context>
<context>
    <name>plumo::TPlatform</name>
    <message>
        <source>ファイルを開く(&amp;O)…</source>
        <translation>&amp;Abrir archivos…</translation>
    </message>
    <message>
        <source>ファイルを追加(&amp;A)…</source>
        <translation>A&amp;ñadir archivos…</translation>
    </message>
    <message>
        <source>フォルダを開く(&amp;F)…</source>
        <translation>Abrir &amp;carpeta…</translation>
    </message>
    <message>
        <source>アドレスを開く(&amp;L)…</source>
        <translation>Abrir &amp;dirección…</translation>
    </message>
    <message>
        <source>プレイリスト(&amp;P)</source>
        <translation>&amp;Lista de reproducción</translation>
    </message>
    <message>
        <source>シャッフル(&amp;S)</source>
        <translation>Orden &amp;aleatorio</translation>
    </message>
    <message>
        <source>リピート(&amp;R)</source>
        <translation>&amp;Repetir</translation>
    </message>
    <message>
        <source>全曲</source>
        <translation>Todo</translation>
    </message>
    <message>
        <source>1曲</source>
        <translation>Una</translation>
    </message>
    <message>
        <source>イコライザ(&amp;E)</source>
        <translation>&amp;Ecualizador</translation>
    </message>
    <message>
        <source>低音強調</source>
        <translation>Realce de graves</translation>
    </message>
    <message>
        <source>高音強調</source>
        <translation>Realce de agudos</translation>
    </message>
    <message>
        <source>ラウドネス</source>
        <translation>Sonoridad</translation>
    </message>
    <message>
        <source>ボーカル</source>
        <translation>Voz</translation>
    </message>
    <message>
        <source>クラシック</source>
        <translation>Clásica</translation>
    </message>
    <message>
        <source>ロック</source>
        <translation>Rock</translation>
    </message>
    <message>
        <source>スリープタイマー(&amp;T)</source>
        <translation>&amp;Temporizador</translation>
    </message>
    <message>
        <source>15分</source>
        <translation>15 minutos</translation>
    </message>
    <message>
        <source>30分</source>
        <translation>30 minutos</translation>
    </message>
    <message>
        <source>60分</source>
        <translation>60 minutos</translation>
    </message>
    <message>
        <source>90分</source>
        <translation>90 minutos</translation>
    </message>
    <message>
        <source>この曲の後</source>
        <translation>Tras esta pista</translation>
    </message>
    <message>
        <source>起動時に再生を再開</source>
        <translation>Reanudar al iniciar</translation>
    </message>
    <message>
        <source>曲の変更を通知</source>
        <translation>Avisar del cambio de pista</translation>
    </message>
    <message>
        <source>ファイルをここにドロップ</source>
        <translation>Suelte archivos aquí</translation>
    </message>
    <message>
        <source>%1 はストリームのアドレスではありません</source>
        <translation>%1 no es una dirección de flujo</translation>
    </message>
    <message>
        <source>MPEG オーディオとプレイリスト (%1)</source>
        <translation>Audio MPEG y listas de reproducción (%1)</translation>
    </message>
    <message>
        <source>ファイルを追加</source>
        <translation>Añadir archivos</translation>
    </message>
    <message>
        <source>ファイルを開く</source>
        <translation>Abrir archivos</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Abrir carpeta</translation>
    </message>
    <message>
        <source>アドレスを開く</source>
        <translation>Abrir dirección</translation>
    </message>
    <message>
        <source>インターネットラジオや音声ファイルのアドレス (http://, https://):</source>
        <translation>Dirección de una radio por Internet o de un archivo de audio (http://, https://):</translation>
    </message>
    <message>
        <source>この曲の後にスリープ</source>
        <translation>dormir tras esta pista</translation>
    </message>
    <message>
        <source>スリープまで %1 分</source>
        <translation>dormir en %1 min</translation>
    </message>
    <message>
        <source>ReplayGain</source>
        <translation>ReplayGain</translation>
    </message>
    <message>
        <source>オフ</source>
        <translation>Desactivado</translation>
    </message>
    <message>
        <source>トラック</source>
        <translation>Pista</translation>
    </message>
    <message>
        <source>アルバム</source>
        <translation>Álbum</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Automático</translation>
    </message>
    <message>
        <source>PLUMO player</source>
        <translation>Reproductor PLUMO</translation>
    </message>
    <message>
        <source>About PLUMO</source>
        <translation>Acerca de PLUMO</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>A tiny MPEG audio player for Linux.</source>
        <translation>Un diminuto reproductor de audio MPEG para Linux.</translation>
    </message>
    <message>
        <source>Version 1.08 [May.18,Tue.2004]</source>
        <translation>Versión 1.08 [mar. 18 may. 2004]</translation>
    </message>
    <message>
        <source>PLUMOについて</source>
        <translation>Acerca de PLUMO</translation>
    </message>
    <message>
        <source>パネルを隠す</source>
        <translation>Ocultar el panel</translation>
    </message>
    <message>
        <source>常に先頭に表示</source>
        <translation>Siempre encima</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volumen</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Máximo</translation>
    </message>
    <message>
        <source>大</source>
        <translation>Alto</translation>
    </message>
    <message>
        <source>中</source>
        <translation>Medio</translation>
    </message>
    <message>
        <source>小</source>
        <translation>Bajo</translation>
    </message>
    <message>
        <source>極小</source>
        <translation>Muy bajo</translation>
    </message>
    <message>
        <source>消音</source>
        <translation>Silencio</translation>
    </message>
    <message>
        <source>履歴</source>
        <translation>Historial</translation>
    </message>
    <message>
        <source>履歴を消去</source>
        <translation>Borrar el historial</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Salir</translation>
    </message>
    <message>
        <source>%1 ほか %2 件</source>
        <translation>%1 y %2 más</translation>
    </message>
    <message>
        <source>%1 に再生できるファイルがありません</source>
        <translation>No hay archivos reproducibles en %1</translation>
    </message>
    <message>
        <source>再接続中… </source>
        <translation>Reconectando… </translation>
    </message>
    <message>
        <source>AAC の放送は再生できません</source>
        <translation>las emisiones AAC no se pueden reproducir</translation>
    </message>
    <message>
        <source>HLS の放送は再生できません</source>
        <translation>las emisiones HLS no se pueden reproducir</translation>
    </message>
    <message>
        <source>安全でない転送先は拒否されました</source>
        <translation>se rechazó una redirección insegura</translation>
    </message>
    <message>
        <source>プレイリストに放送局がありません</source>
        <translation>la lista de reproducción no nombra ninguna emisora</translation>
    </message>
    <message>
        <source>接続中… </source>
        <translation>Conectando… </translation>
    </message>
    <message>
        <source>PLAY</source>
        <translation>REPRODUCCIÓN</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>DETENIDO</translation>
    </message>
    <message>
        <source>PAUSE</source>
        <translation>PAUSA</translation>
    </message>
    <message>
        <source>パネルを表示</source>
        <translation>Mostrar el panel</translation>
    </message>
    <message>
        <source>履歴を消去しますか?</source>
        <translation>¿Borrar el historial?</translation>
    </message>
    <message>
        <source>サーバーに見つかりません</source>
        <translation>no encontrado en el servidor</translation>
    </message>
    <message>
        <source>サーバーに拒否されました</source>
        <translation>rechazado por el servidor</translation>
    </message>
    <message>
        <source>証明書が信頼されていません</source>
        <translation>certificado no fiable</translation>
    </message>
    <message>
        <source>タイムアウトしました</source>
        <translation>tiempo de espera agotado</translation>
    </message>
    <message>
        <source>接続できません</source>
        <translation>no se puede conectar</translation>
    </message>
    <message>
        <source>MPEG オーディオではありません</source>
        <translation>no es audio MPEG</translation>
    </message>
    <message>
        <source>ファイルが見つかりません</source>
        <translation>archivo no encontrado</translation>
    </message>
    <message>
        <source>読み取りが許可されていません</source>
        <translation>no se permite leerlo</translation>
    </message>
    <message>
        <source>開けません</source>
        <translation>no se puede abrir</translation>
    </message>
    <message>
        <source>再生/一時停止</source>
        <translation>Reproducir/Pausa</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Detener</translation>
    </message>
</context>
</TS>
