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
</context>
</TS>
