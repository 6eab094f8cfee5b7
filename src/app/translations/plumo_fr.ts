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
        <source>ファイルを開く(&amp;O)…</source>
        <translation>&amp;Ouvrir des fichiers…</translation>
    </message>
    <message>
        <source>ファイルを追加(&amp;A)…</source>
        <translation>&amp;Ajouter des fichiers…</translation>
    </message>
    <message>
        <source>フォルダを開く(&amp;F)…</source>
        <translation>Ouvrir un &amp;dossier…</translation>
    </message>
    <message>
        <source>アドレスを開く(&amp;L)…</source>
        <translation>Ouvrir une ad&amp;resse…</translation>
    </message>
    <message>
        <source>プレイリスト(&amp;P)</source>
        <translation>&amp;Liste de lecture</translation>
    </message>
    <message>
        <source>シャッフル(&amp;S)</source>
        <translation>Lecture &amp;aléatoire</translation>
    </message>
    <message>
        <source>リピート(&amp;R)</source>
        <translation>&amp;Répéter</translation>
    </message>
    <message>
        <source>全曲</source>
        <translation>Tout</translation>
    </message>
    <message>
        <source>1曲</source>
        <translation>Un seul</translation>
    </message>
    <message>
        <source>イコライザ(&amp;E)</source>
        <translation>É&amp;galiseur</translation>
    </message>
    <message>
        <source>低音強調</source>
        <translation>Graves renforcés</translation>
    </message>
    <message>
        <source>高音強調</source>
        <translation>Aigus renforcés</translation>
    </message>
    <message>
        <source>ラウドネス</source>
        <translation>Loudness</translation>
    </message>
    <message>
        <source>ボーカル</source>
        <translation>Voix</translation>
    </message>
    <message>
        <source>クラシック</source>
        <translation>Classique</translation>
    </message>
    <message>
        <source>ロック</source>
        <translation>Rock</translation>
    </message>
    <message>
        <source>スリープタイマー(&amp;T)</source>
        <translation>Minu&amp;terie de sommeil</translation>
    </message>
    <message>
        <source>15分</source>
        <translation>15 minutes</translation>
    </message>
    <message>
        <source>30分</source>
        <translation>30 minutes</translation>
    </message>
    <message>
        <source>60分</source>
        <translation>60 minutes</translation>
    </message>
    <message>
        <source>90分</source>
        <translation>90 minutes</translation>
    </message>
    <message>
        <source>この曲の後</source>
        <translation>Après ce morceau</translation>
    </message>
    <message>
        <source>起動時に再生を再開</source>
        <translation>Reprendre la lecture au démarrage</translation>
    </message>
    <message>
        <source>曲の変更を通知</source>
        <translation>Notifier les changements de morceau</translation>
    </message>
    <message>
        <source>ファイルをここにドロップ</source>
        <translation>Déposez des fichiers ici</translation>
    </message>
    <message>
        <source>%1 はストリームのアドレスではありません</source>
        <translation>%1 n’est pas une adresse de flux</translation>
    </message>
    <message>
        <source>MPEG オーディオとプレイリスト (%1)</source>
        <translation>Audio MPEG et listes de lecture (%1)</translation>
    </message>
    <message>
        <source>ファイルを追加</source>
        <translation>Ajouter des fichiers</translation>
    </message>
    <message>
        <source>ファイルを開く</source>
        <translation>Ouvrir des fichiers</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Ouvrir un dossier</translation>
    </message>
    <message>
        <source>アドレスを開く</source>
        <translation>Ouvrir une adresse</translation>
    </message>
    <message>
        <source>インターネットラジオや音声ファイルのアドレス (http://, https://):</source>
        <translation>Adresse d’une radio Internet ou d’un fichier audio (http://, https://) :</translation>
    </message>
    <message>
        <source>この曲の後にスリープ</source>
        <translation>sommeil après ce morceau</translation>
    </message>
    <message>
        <source>スリープまで %1 分</source>
        <translation>sommeil dans %1 min</translation>
    </message>
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
        <source>自動</source>
        <translation>Automatique</translation>
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
        <source>再接続中… </source>
        <translation>Reconnexion… </translation>
    </message>
    <message>
        <source>AAC の放送は再生できません</source>
        <translation>les diffusions AAC ne peuvent pas être lues</translation>
    </message>
    <message>
        <source>HLS の放送は再生できません</source>
        <translation>les diffusions HLS ne peuvent pas être lues</translation>
    </message>
    <message>
        <source>安全でない転送先は拒否されました</source>
        <translation>une redirection non sécurisée a été refusée</translation>
    </message>
    <message>
        <source>プレイリストに放送局がありません</source>
        <translation>la liste de lecture ne nomme aucune station</translation>
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
    <message>
        <source>サーバーに見つかりません</source>
        <translation>introuvable sur le serveur</translation>
    </message>
    <message>
        <source>サーバーに拒否されました</source>
        <translation>refusé par le serveur</translation>
    </message>
    <message>
        <source>証明書が信頼されていません</source>
        <translation>certificat non reconnu</translation>
    </message>
    <message>
        <source>タイムアウトしました</source>
        <translation>délai dépassé</translation>
    </message>
    <message>
        <source>接続できません</source>
        <translation>connexion impossible</translation>
    </message>
    <message>
        <source>MPEG オーディオではありません</source>
        <translation>pas de l’audio MPEG</translation>
    </message>
    <message>
        <source>ファイルが見つかりません</source>
        <translation>fichier introuvable</translation>
    </message>
    <message>
        <source>読み取りが許可されていません</source>
        <translation>lecture non autorisée</translation>
    </message>
    <message>
        <source>開けません</source>
        <translation>ouverture impossible</translation>
    </message>
    <message>
        <source>再生/一時停止</source>
        <translation>Lecture/Pause</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Arrêt</translation>
    </message>
</context>
</TS>
