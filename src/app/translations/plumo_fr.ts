<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>IniWriteError</name>
    <message>
        <source>%1 に書き込めません</source>
        <translation>Impossible d’écrire dans %1</translation>
    </message>
</context>
<context>
    <name>TTrayIcon</name>
    <message>
        <source>タスクトレイにアイコンを登録できません。</source>
        <translation>Impossible d’ajouter l’icône à la zone de notification.</translation>
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
        <translation>Désactivé</translation>
    </message>
    <message>
        <source>トラック</source>
        <translation>Piste</translation>
    </message>
    <message>
        <source>アルバム</source>
        <translation>Album</translation>
    </message>
    <message>
        <source>PLUMO player</source>
        <translation>Lecteur PLUMO</translation>
    </message>
    <message>
        <source>About PLUMO</source>
        <translation>À propos de PLUMO</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>A tiny MPEG audio player for Linux.</source>
        <translation>Un tout petit lecteur audio MPEG pour Linux.</translation>
    </message>
    <message>
        <source>Version 1.08 [May.18,Tue.2004]</source>
        <translation>Version 1.08 [mar. 18 mai 2004]</translation>
    </message>
    <message>
        <source>PLUMOについて</source>
        <translation>À propos de PLUMO</translation>
    </message>
    <message>
        <source>パネルを隠す</source>
        <translation>Masquer le panneau</translation>
    </message>
    <message>
        <source>常に先頭に表示</source>
        <translation>Toujours au premier plan</translation>
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
        <translation>Fort</translation>
    </message>
    <message>
        <source>中</source>
        <translation>Moyen</translation>
    </message>
    <message>
        <source>小</source>
        <translation>Faible</translation>
    </message>
    <message>
        <source>極小</source>
        <translation>Très faible</translation>
    </message>
    <message>
        <source>消音</source>
        <translation>Muet</translation>
    </message>
    <message>
        <source>履歴</source>
        <translation>Historique</translation>
    </message>
    <message>
        <source>履歴を消去</source>
        <translation>Effacer l’historique</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quitter</translation>
    </message>
    <message>
        <source>%1 ほか %2 件</source>
        <translation>%1 et %2 de plus</translation>
    </message>
    <message>
        <source>%1 に再生できるファイルがありません</source>
        <translation>Aucun fichier lisible dans %1</translation>
    </message>
    <message>
        <source>接続中… </source>
        <translation>Connexion… </translation>
    </message>
    <message>
        <source>PLAY</source>
        <translation>LECTURE</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>ARRÊT</translation>
    </message>
    <message>
        <source>PAUSE</source>
        <translation>PAUSE</translation>
    </message>
    <message>
        <source>パネルを表示</source>
        <translation>Afficher le panneau</translation>
    </message>
    <message>
        <source>履歴を消去しますか?</source>
        <translation>Effacer l’historique ?</translation>
    </message>
</context>
</TS>
