// Resource ids of vellum.exe: menus, dialogs, icons, bitmaps, commands and
// controls. Every number here is fixed: the program's windows, its tests and
// vellum.rc all name them through this one header, which the resource
// compiler reads too (so plain #defines, no C++).
#pragma once

// ---- Menus -----------------------------------------------------------------
#define IDM_MAIN                   101   // menu bar of the main window (class VELLUM)
#define IDM_REQUEST                146   // request-tree context menu (first submenu)
#define IDM_TRAY                   153   // tray menu (first submenu)
#define IDM_AUTOGET                168   // menu bar of the auto-get window (class VELLUM_REC)
#define IDM_AUTOGET_TREE           177   // page-tree context menu (first submenu)

// ---- Dialogs ---------------------------------------------------------------
#define IDD_LOG                    143   // log window, connection debug window, WinSock information
#define IDD_AUTOGET_JOB            145   // settings of one base URL
#define IDD_PROXY                  172   // HTTP proxy settings
#define IDD_AUTOGET_START          173   // start now or at a time of day
#define IDD_URL_SEARCH             175   // URL search in the page tree
#define IDD_FOLDER_NAME            178   // name of a folder to create
#define IDD_PASSWORDS              183   // Basic-authentication credentials
#define IDD_DIALUP                 184   // dial-up settings

// ---- Icons (16x16; 112 and 171 also 32x32 for their window classes) ------
#define IDI_OFFLINE                112   // offline, idle; main window class icon
#define IDI_ONLINE                 113   // online, idle
#define IDI_RECORDING              120   // recording, idle
#define IDI_RECORDING_BUSY         124   // recording, connections alive
#define IDI_ONLINE_BUSY            125   // online, connections alive
#define IDI_OFFLINE_BUSY           131   // offline, connections alive
#define IDI_AUTOGET                171   // auto-get window, no run; its class icon
#define IDI_AUTOGET_RUNNING        180   // auto-get window during a run

// ---- Bitmaps ---------------------------------------------------------------
#define IDB_REQUEST_STATES         136   // 16 request-tree state images, 16x16, grey 128 transparent
#define IDB_TOOLBAR                149   // 5 toolbar images, 16x15, grey 192 is the button face
#define IDB_PAGE_STATES            182   // 16 page-tree state images, 16x16, grey 128 transparent

// ---- Child windows -----------------------------------------------------------
// The main window and the auto-get window share the first three; each window
// has its own tree view id.
#define IDC_TOOLBAR                110
#define IDC_STATUSBAR              111
#define IDC_PROGRESS               112   // child of the status bar
#define IDC_REQUEST_TREE           113   // main window
#define IDC_PAGE_TREE              115   // auto-get window

// ---- Commands of the main window (main menu, tray menu, toolbar) ------------
#define ID_FILE_EXIT               40010  // Vellumの終了
#define ID_SAVE_FOLDER             40043  // save-folder item; its text is the folder
#define ID_MODE_INTERNET           40110  // インターネット接続
#define ID_MODE_LOCALIZE           40113  // ページ保存
#define ID_HELP_MANUAL             40146  // マニュアル
#define ID_OPEN_AUTOGET            40148  // 自動取得ウィンドウを開く
#define ID_PROXY_SETTINGS          40149  // HTTPプロキシサーバーの設定
#define ID_LOG_DETAIL              40157  // ログ詳細表示
#define ID_HELP_VERSION            40159  // バージョン情報
#define ID_DISCARD_COOKIES         40160  // クッキーを捨てる
#define ID_OPEN_MAIN_WINDOW        40163  // メインウィンドウを開く
#define ID_HELP_HOMEPAGE           40164  // Ｗｅｂページ
#define ID_HELP_WINSOCK            40165  // ＷｉｎＳｏｃｋ情報
#define ID_SHOW_AUTOGET_REQUESTS   40167  // 自動取得状況表示
#define ID_DIALUP_SETTINGS         40170  // ダイアルアップ接続サポート

// Request-tree menu of the main window.
#define ID_REQUEST_RESERVE         40092  // 自動取得に予約
#define ID_REQUEST_LOG             40100  // ログ表示
#define ID_REQUEST_COPY            40169  // コピー

// ---- Commands of the auto-get window (menu bar, toolbar, page-tree menu) ---
#define ID_AUTOGET_STOP            40090  // ストップ
#define ID_AUTOGET_START           40124  // スタート
#define ID_AUTOGET_PASSWORDS       40166  // パスワード設定

#define ID_PAGE_DELETE             40094  // ツリーから削除
#define ID_PAGE_SETTINGS           40127  // 自動取得の設定
#define ID_PAGE_RESET              40136  // 取得待機に戻す
#define ID_PAGE_SKIP               40153  // スキップ / スキップ解除
#define ID_PAGE_SEARCH             40156  // URL検索
#define ID_PAGE_BROWSE             40158  // ブラウザ表示
#define ID_PAGE_COPY               40168  // コピー

// ---- Commands of the folder chooser's right-click menu (built in code) ------
#define ID_FOLDER_CREATE           10001  // 新規フォルダ作成
#define ID_FOLDER_DELETE           10002  // フォルダ削除

// ---- Controls of dialog 143 (log window) ------------------------------------
#define IDC_LOG_TEXT               1022
#define IDC_LOG_PROGRESS           1044

// ---- Controls of dialog 145 (settings of one base URL) ----------------------
#define IDC_JOB_UPDATE_ALWAYS      1038  // する
#define IDC_JOB_UPDATE_NEVER       1039  // しない
#define IDC_JOB_DEPTH              1040
#define IDC_JOB_UPDATE_HTML        1041  // HTMLファイルのみする
#define IDC_JOB_RETRY_COUNT        1042
#define IDC_JOB_RETRY_INTERVAL     1043
#define IDC_JOB_SAVE_FOLDER        1070
#define IDC_JOB_CHANGE_FOLDER      1071
#define IDC_JOB_BASE_URL           1073
#define IDC_JOB_RESTRICTIONS       1075
#define IDC_JOB_SKIP_EXTENSIONS    1076
#define IDC_JOB_RESTRICT_ALL       1094
#define IDC_JOB_REQUISITES         1101  // ページの表示に必要なファイルも取得する

// ---- Controls of dialog 172 (HTTP proxy settings) ---------------------------
#define IDC_PROXY_USE              1053
#define IDC_PROXY_ADDRESS          1054
#define IDC_PROXY_ADDRESS_LABEL    1055
#define IDC_PROXY_PORT_LABEL       1056
#define IDC_PROXY_PORT             1057

// ---- Controls of dialog 173 (auto-get start) --------------------------------
#define IDC_START_NOW              3     // 今すぐスタート
#define IDC_START_SCHEDULED        4     // 指定の時刻になったらスタート
#define IDC_START_HOUR             1060
#define IDC_START_MINUTE           1061
#define IDC_START_HANG_UP          1081
#define IDC_START_LINK_ONLY        1082
#define IDC_START_CLOCK            1083
#define IDC_START_EXT_LABEL        1084
#define IDC_START_EXTENSIONS       1093

// ---- Controls of dialog 175 (URL search) ------------------------------------
#define IDC_SEARCH_TEXT            1066
#define IDC_SEARCH_CASE            1067
#define IDC_SEARCH_UP              1068
#define IDC_SEARCH_DOWN            1069

// ---- Controls of dialog 178 (folder name) -----------------------------------
#define IDC_FOLDER_NAME            1074

// ---- Controls of dialog 183 (credentials) -----------------------------------
#define IDC_AUTH_HOST              1084
#define IDC_AUTH_HOST_LABEL        1085
#define IDC_AUTH_CHALLENGE_LABEL   1086
#define IDC_AUTH_CHALLENGE         1087
#define IDC_AUTH_USER              1088
#define IDC_AUTH_USER_LABEL        1089
#define IDC_AUTH_PASSWORD_LABEL    1090
#define IDC_AUTH_PASSWORD          1091
#define IDC_AUTH_REMOVE            1092

// ---- Controls of dialog 184 (dial-up settings) ------------------------------
#define IDC_DIALUP_SUPPORT         1095
#define IDC_DIALUP_ENTRY           1096
#define IDC_DIALUP_ID              1097
#define IDC_DIALUP_PASSWORD        1098
#define IDC_DIALUP_ID_LABEL        1099
#define IDC_DIALUP_PASSWORD_LABEL  1100
