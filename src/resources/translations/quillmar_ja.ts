<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>qm::FailureReason</name>
    <message>
        <source>The disk of the destination folder is full. Free some space and try again.</source>
        <translation>保存先のディスクがいっぱいです。空き容量を確保してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>Files cannot be written into the destination folder. Choose a folder you may write into.</source>
        <translation>保存先のフォルダーに書き込めません。書き込みできるフォルダーを指定してください。</translation>
    </message>
    <message>
        <source>The destination folder is not set or does not exist. Choose an existing folder for the saved files.</source>
        <translation>保存先のフォルダーが指定されていないか、見つかりません。「ﾌｧｲﾙの保存先」に既存のフォルダーを指定してください。</translation>
    </message>
    <message>
        <source>The destination folder cannot be used. Check the folder and try again.</source>
        <translation>保存先のフォルダーを使用できません。フォルダーを確認してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>The disk is full, so the attachments could not be saved. Free some space and try again.</source>
        <translation>ディスクがいっぱいのため、添付ファイルを保存できませんでした。空き容量を確保してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>Access was denied, so the attachments could not be saved. Check the permissions of the destination folder.</source>
        <translation>アクセスが拒否されたため、添付ファイルを保存できませんでした。保存先のフォルダーの権限を確認してください。</translation>
    </message>
    <message>
        <source>The destination folder was moved or removed while files were saved. Check the folder and try again.</source>
        <translation>保存中に保存先のフォルダーが移動または削除されました。フォルダーを確認してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>The attachments could not be saved. Check the disk and the destination folder.</source>
        <translation>添付ファイルを保存できませんでした。ディスクと保存先のフォルダーを確認してください。</translation>
    </message>
    <message>
        <source>The mailbox could not be read. Please try again later.</source>
        <translation>メールボックスを読み込めませんでした。しばらくしてから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>An internal error occurred in the program. Please tell your administrator, with the details.</source>
        <translation>プログラム内部でエラーが発生しました。お手数ですが、詳細を添えて管理者にお知らせください。</translation>
    </message>
    <message>
        <source>The mailbox settings were cancelled, so no mail was received.</source>
        <translation>メールボックスの設定が取り消されたため、メールを受信しませんでした。</translation>
    </message>
    <message>
        <source>Receiving was cancelled.</source>
        <translation>受信を取り消しました。</translation>
    </message>
    <message>
        <source>There is no display to show the window on. To receive without a window, start the program with -a.</source>
        <translation>ウィンドウを表示する画面がありません。画面なしで受信するには、-a を付けて起動してください。</translation>
    </message>
    <message>
        <source>The mail server did not accept the user name or password. Check them and try again.</source>
        <translation>メールサーバーがユーザー名またはパスワードを受け付けませんでした。ユーザー名とパスワードを確認してください。</translation>
    </message>
    <message>
        <source>Cannot connect to the mail server. Check the server name and port.</source>
        <translation>メールサーバーに接続できません。サーバー名とポートを確認してください。</translation>
    </message>
    <message>
        <source>The mail server could not be confirmed as safe. Check the server name, the encryption and the CA file.</source>
        <translation>メールサーバーの安全性を確認できません。サーバー名、暗号化の方式、CAファイルを確認してください。</translation>
    </message>
    <message>
        <source>No mailbox is set up, or its settings cannot be used. Check the mailbox settings.</source>
        <translation>メールボックスが設定されていないか、設定に誤りがあります。メールボックスの設定を確認してください。</translation>
    </message>
    <message>
        <source>The mail server or the mailbox failed while mail was received. Please try again later.</source>
        <translation>受信中にメールサーバーまたはメールボックスでエラーが発生しました。しばらくしてから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>Some messages could not be read. They were left unread and will be tried again next time.</source>
        <translation>読み込めないメールがありました。それらのメールは未読のまま残してあり、次回もう一度処理します。</translation>
    </message>
    <message>
        <source>This mailbox needs a sign-in in the browser. Start the program on a desktop and sign in.</source>
        <translation>このメールボックスにはブラウザーでのサインインが必要です。画面のある環境でプログラムを起動して、サインインしてください。</translation>
    </message>
    <message>
        <source>The mail service no longer accepts the saved sign-in. Please sign in again.</source>
        <translation>保存されているサインイン情報がメールサービスで無効になっています。もう一度サインインしてください。</translation>
    </message>
    <message>
        <source>The command that gives the password failed or took too long. Check the password command in the settings.</source>
        <translation>パスワードを取得するコマンドが失敗したか、時間内に終わりませんでした。設定のパスワードコマンドを確認してください。</translation>
    </message>
    <message>
        <source>Mail is already being received with the same settings (in another window or by a scheduled run). This run did not start; try again once that one has ended.</source>
        <translation>同じ設定での受信が、別のウィンドウまたはスケジュールされた実行ですでに行われています。今回の受信は開始しませんでした。終わってからもう一度お試しください。</translation>
    </message>
    <message>
        <source>No mail program on this PC lets other programs read its mail. Make classic Outlook the default mail program (the new Outlook does not allow this), or choose an IMAP mailbox in the mailbox settings.</source>
        <translation>このPCには、ほかのプログラムからメールを読めるメールソフトが設定されていません。従来のOutlookを既定のメールソフトにするか（新しいOutlookではできません）、メールボックスの設定でIMAPのメールボックスを選んでください。</translation>
    </message>
    <message>
        <source>Outlook did not sign on. Check the Outlook profile name, and that Outlook starts and receives mail by itself.</source>
        <translation>Outlookにサインオンできませんでした。Outlookのプロファイル名と、Outlookが単独で起動してメールを受信できることを確認してください。</translation>
    </message>
    <message>
        <source>Outlook asks for a sign-on, which a run without a window cannot answer. Start Outlook before the scheduled run, or click GET! once.</source>
        <translation>Outlookがサインオンを求めていますが、ウィンドウを表示しない実行では応答できません。スケジュールされた実行の前にOutlookを起動しておくか、一度「GET!」をクリックしてください。</translation>
    </message>
    <message>
        <source>Outlook has too many sessions open. Restart Outlook and try again.</source>
        <translation>Outlookのセッションが多すぎます。Outlookを再起動してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>The mail server is busy and asked to wait longer than a scan can. Please try again later.</source>
        <translation>メールサーバーが混み合っていて、受信で待てる時間より長く待つよう求められました。しばらくしてから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>This program has not been allowed to read the mailbox. Ask your administrator to grant the program&apos;s permissions (consent) for your organization, then sign in again.</source>
        <translation>このプログラムにメールボックスを読む許可が与えられていません。組織の管理者にプログラムのアクセス許可（同意）を付与してもらい、もう一度サインインしてください。</translation>
    </message>
    <message>
        <source>The mailbox was not found. Check the mailbox address in the mailbox settings.</source>
        <translation>メールボックスが見つかりません。メールボックスの設定で、メールボックスのアドレスを確認してください。</translation>
    </message>
</context>
<context>
    <name>qm::Folder</name>
    <message>
        <source>Choose a folder</source>
        <translation>ﾌｫﾙﾀﾞを指定してください</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>ｷｬﾝｾﾙ</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>決定</translation>
    </message>
    <message>
        <source>The drive is not ready</source>
        <translation>ﾄﾞﾗｲﾌﾞが準備できていません</translation>
    </message>
</context>
<context>
    <name>qm::MailForm</name>
    <message>
        <source>GET!</source>
        <translation>GET!</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>参照</translation>
    </message>
    <message>
        <source>Save files in</source>
        <translation>ﾌｧｲﾙの保存先</translation>
    </message>
    <message>
        <source>has</source>
        <comment>&lt;field&gt; has &lt;keyword&gt; in it</comment>
        <translation>に</translation>
    </message>
    <message>
        <source>in it</source>
        <comment>&lt;field&gt; has &lt;keyword&gt; in it</comment>
        <translation>を含む</translation>
    </message>
    <message>
        <source>Every message in the inbox</source>
        <translation>受信ﾄﾚｲにあるﾒｰﾙすべてが対象</translation>
    </message>
    <message>
        <source>Unread messages only</source>
        <translation>未読ﾒｰﾙのみが対象</translation>
    </message>
    <message>
        <source>Quit after the scan</source>
        <translation>自動終了</translation>
    </message>
    <message>
        <source>Right-click to set the mailbox</source>
        <translation>右ｸﾘｯｸでﾒｰﾙﾎﾞｯｸｽを設定</translation>
    </message>
    <message>
        <source>Mailbox settings...</source>
        <translation>ﾒｰﾙﾎﾞｯｸｽの設定...</translation>
    </message>
    <message>
        <source>Subject</source>
        <translation>件名</translation>
    </message>
    <message>
        <source>Sender</source>
        <translation>差出人</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>ｱﾄﾞﾚｽ</translation>
    </message>
    <message>
        <source>Receive every few minutes...</source>
        <translation>定期的に受信する...</translation>
    </message>
    <message>
        <source>Stop receiving every few minutes</source>
        <translation>定期的な受信をやめる</translation>
    </message>
    <message>
        <source>Receive every (minutes, while you are logged on):</source>
        <translation>受信の間隔（分。ログオンしている間）:</translation>
    </message>
    <message>
        <source>Mail is now received every %1 minutes while you are logged on.</source>
        <translation>ログオンしている間、%1 分ごとにメールを受信します。</translation>
    </message>
    <message>
        <source>Check 自動終了 and close the window once, so that each run ends by itself.</source>
        <translation>「自動終了」をチェックしてから一度ウィンドウを閉じてください。そうすると、毎回の受信が自動で終わります。</translation>
    </message>
    <message>
        <source>Mail is no longer received every few minutes.</source>
        <translation>定期的な受信をやめました。</translation>
    </message>
    <message>
        <source>Mail was not received every few minutes.</source>
        <translation>定期的な受信は設定されていません。</translation>
    </message>
    <message>
        <source>Open the folder the files were saved in</source>
        <translation>保存先のﾌｫﾙﾀﾞを開く</translation>
    </message>
    <message>
        <source>The folder %1 could not be opened.</source>
        <translation>ﾌｫﾙﾀﾞ %1 を開けませんでした。</translation>
    </message>
</context>
<context>
    <name>qm::ReportFailure</name>
    <message>
        <source>%1 (details: %2)</source>
        <translation>%1（詳細: %2）</translation>
    </message>
    <message>
        <source>Error %1</source>
        <translation>エラー %1</translation>
    </message>
</context>
<context>
    <name>qm::ReportSetAside</name>
    <message>
        <source>The settings file could not be read. It was moved to %1 and a new one was written.</source>
        <translation>設定ファイルを読めなかったため、%1 に移して新しく作りました。</translation>
    </message>
</context>
<context>
    <name>qm::ReportSettingsFile</name>
    <message>
        <source>The settings file %1 is not a regular file, so it was neither read nor written. Replace it with a regular file.</source>
        <translation>設定ファイル %1 は通常のファイルではないため、読み込みも書き込みもしませんでした。通常のファイルに置き換えてください。</translation>
    </message>
    <message>
        <source>The settings file %1 holds a password and could be read by other users. It is now readable by you only.</source>
        <translation>設定ファイル %1 にはパスワードが保存されていますが、ほかのユーザーも読める状態でした。あなただけが読めるように変更しました。</translation>
    </message>
    <message>
        <source>The settings file %1 holds a password and can be read by other users, and its permissions could not be changed. Make it readable by you only (chmod 600).</source>
        <translation>設定ファイル %1 にはパスワードが保存されていますが、ほかのユーザーも読める状態で、権限を変更できませんでした。あなただけが読めるようにしてください（chmod 600）。</translation>
    </message>
</context>
<context>
    <name>qm::ScanProgressWindow</name>
    <message>
        <source>Checked %1 / %2 messages, saved %3 files</source>
        <translation>確認済み %1 / %2 件&#x3000;保存 %3 個</translation>
    </message>
    <message>
        <source>Saving %1</source>
        <translation>保存中: %1</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>ｷｬﾝｾﾙ</translation>
    </message>
</context>
<context>
    <name>qm::ScanSummaryText</name>
    <message>
        <source>files saved: %1</source>
        <translation>保存%1件</translation>
    </message>
    <message>
        <source>ZIP unpacked: %1</source>
        <translation>展開%1件</translation>
    </message>
    <message>
        <source>ZIP waiting for a password: %1</source>
        <translation>パスワード待ち%1件</translation>
    </message>
    <message>
        <source>ZIP left packed: %1</source>
        <translation>展開できず%1件</translation>
    </message>
    <message>
        <source>messages left unread: %1</source>
        <translation>未読のまま%1通</translation>
    </message>
    <message>
        <source>%1, %2</source>
        <translation>%1・%2</translation>
    </message>
</context>
<context>
    <name>qm::SignOnDialog</name>
    <message>
        <source>Mailbox settings</source>
        <translation>ﾒｰﾙﾎﾞｯｸｽの設定</translation>
    </message>
    <message>
        <source>Choose the mailbox to receive from.</source>
        <translation>受信するﾒｰﾙﾎﾞｯｸｽを選んでください。</translation>
    </message>
    <message>
        <source>Local Maildir</source>
        <translation>ﾛｰｶﾙのMaildir</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>参照</translation>
    </message>
    <message>
        <source>IMAP server</source>
        <translation>IMAPｻｰﾊﾞｰ</translation>
    </message>
    <message>
        <source>Optional</source>
        <translation>省略可</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>ｷｬﾝｾﾙ</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>詳細</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>ｻｰﾊﾞｰ</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>ﾎﾟｰﾄ</translation>
    </message>
    <message>
        <source>Encryption</source>
        <translation>暗号化</translation>
    </message>
    <message>
        <source>User</source>
        <translation>ﾕｰｻﾞｰ</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>ﾊﾟｽﾜｰﾄﾞ</translation>
    </message>
    <message>
        <source>Mailbox</source>
        <translation>ﾒｰﾙﾎﾞｯｸｽ</translation>
    </message>
    <message>
        <source>CA file</source>
        <translation>CAﾌｧｲﾙ</translation>
    </message>
    <message>
        <source>Leave empty to keep it</source>
        <translation>空欄なら変更しない</translation>
    </message>
    <message>
        <source>Maildir folder</source>
        <translation>Maildirのﾌｫﾙﾀﾞ</translation>
    </message>
    <message>
        <source>Gmail / Google Workspace</source>
        <translation>Gmail / Google Workspace</translation>
    </message>
    <message>
        <source>Microsoft 365 / Outlook.com</source>
        <translation>Microsoft 365 / Outlook.com</translation>
    </message>
    <message>
        <source>Microsoft 365 / Outlook.com (IMAP)</source>
        <translation>Microsoft 365 / Outlook.com (IMAP)</translation>
    </message>
    <message>
        <source>Another IMAP server (password)</source>
        <translation>その他のIMAPｻｰﾊﾞｰ (ﾊﾟｽﾜｰﾄﾞ)</translation>
    </message>
    <message>
        <source>A local Maildir</source>
        <translation>ﾛｰｶﾙのMaildir</translation>
    </message>
    <message>
        <source>Google only</source>
        <translation>Googleのみ</translation>
    </message>
    <message>
        <source>Sign in with the browser</source>
        <translation>ﾌﾞﾗｳｻﾞでｻｲﾝｲﾝ</translation>
    </message>
    <message>
        <source>Sign in with a code</source>
        <translation>ｺｰﾄﾞでｻｲﾝｲﾝ</translation>
    </message>
    <message>
        <source>Provider</source>
        <translation>ｻｰﾋﾞｽ</translation>
    </message>
    <message>
        <source>Client ID</source>
        <translation>ｸﾗｲｱﾝﾄID</translation>
    </message>
    <message>
        <source>Client secret</source>
        <translation>ｸﾗｲｱﾝﾄｼｰｸﾚｯﾄ</translation>
    </message>
    <message>
        <source>Tenant</source>
        <translation>ﾃﾅﾝﾄ</translation>
    </message>
    <message>
        <source>No web browser could be opened. Use &quot;Sign in with a code&quot; instead.</source>
        <translation>ブラウザーを開けませんでした。代わりに「ｺｰﾄﾞでｻｲﾝｲﾝ」を使ってください。</translation>
    </message>
    <message>
        <source>Sign in in the browser window that opens. Waiting...</source>
        <translation>開いたブラウザーの画面でサインインしてください。サインインを待っています…</translation>
    </message>
    <message>
        <source>Open %1 on any device and enter the code %2. Waiting for the sign-in...</source>
        <translation>お手元の機器で %1 を開き、コード %2 を入力してください。サインインを待っています…</translation>
    </message>
    <message>
        <source>The sign-in cannot be kept: neither the keyring nor the settings file can be used.</source>
        <translation>サインイン情報を保存できません。キーリングも設定ファイルも使用できません。</translation>
    </message>
    <message>
        <source>The sign-in was cancelled.</source>
        <translation>サインインはキャンセルされました。</translation>
    </message>
    <message>
        <source>Signed in. The sign-in is kept in %1. Press OK to open the mailbox.</source>
        <translation>サインインしました。サインイン情報は %1 に保存されています。OK を押すとメールボックスを開きます。</translation>
    </message>
    <message>
        <source>Sign in first: press &quot;Sign in with the browser&quot; or &quot;Sign in with a code&quot;.</source>
        <translation>先にサインインしてください。「ﾌﾞﾗｳｻﾞでｻｲﾝｲﾝ」または「ｺｰﾄﾞでｻｲﾝｲﾝ」を押してください。</translation>
    </message>
    <message>
        <source>Outlook (mail on this PC)</source>
        <translation>Outlook (このPCのメール)</translation>
    </message>
    <message>
        <source>Classic Outlook&apos;s inbox, signed on as Outlook is. The new Outlook lets no other program read its mail: choose Microsoft 365 there.</source>
        <translation>従来のOutlookの受信トレイを、Outlookのサインオンのまま読みます。新しいOutlookはほかのプログラムにメールを読ませないため、その場合は「Microsoft 365 / Outlook.com」を選んでください。</translation>
    </message>
    <message>
        <source>Your own, or a shared one&apos;s address</source>
        <translation>空欄で自分の、または共有メールボックスのアドレス</translation>
    </message>
    <message>
        <source>Unpack ZIP archives with a password</source>
        <translation>パスワード付きZIPを展開する</translation>
    </message>
    <message>
        <source>Unpack ZIP archives without a password too</source>
        <translation>パスワードのないZIPも展開する</translation>
    </message>
</context>
<context>
    <name>qm::UnattendedRunLog</name>
    <message>
        <source>unattended run started (-a)</source>
        <translation>自動実行を開始しました (-a)</translation>
    </message>
    <message>
        <source>unattended run ended with exit code %1: %2 of %3 messages examined, %4 files saved</source>
        <translation>自動実行が終了コード %1 で終わりました: %3 通のうち %2 通を調べ、%4 個のファイルを保存しました</translation>
    </message>
</context>
</TS>
