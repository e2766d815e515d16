#include "core/res/Strings.h"

#include "core/res/Version.h"

#include <unordered_map>

namespace res {

const char* LoadString(unsigned id) {
    static const std::unordered_map<unsigned, const char*> table = {
        {IDS_OLE_INIT_FAILED, "OLE の初期化に失敗しました。OLE ライブラリのバージョンが正しいことを"
                              "確認してください。"},
        {IDS_NO_COM_PORT,
         "有効なCOMポートが存在しません。\n以下の内容を確認後、再度アプリケーションを\n実行して下"
         "さい。\n\n●パソコンにCOMポートは搭載されていますか？\n●USBシリアル変換アダプターは、\n "
         "  パソコンに接続されていますか？\n●USBシリアル変換アダプターのドライバは、\n   インスト"
         "ールされていますか？\n   (ドライバのインストールに関しては、\n    USBシリアル変換アダプ"
         "ターのマニュアル\n    又は、メーカのHP等を確認してください。)"},
        {IDS_PORT_OPEN_FAILED,
         "COMポートのオープンに失敗しました。\n以下の内容を確認して下さい。\n\n●指定したCOMポート"
         "を使用しているアプリケーションが\n   ある場合、閉じて下さい。"},
        {IDS_RECEIVE_TIMEOUT, "受信タイムアウトしました。"},
        {IDS_RECEIVE_FINISHED, "データの受信が終了しました。"},
        {IDS_INSTANCE_NAME, "6677573A-8BFD-4004-A828-89B9293A706A"},
        {IDS_NO_PORT_CHOSEN, "通信ポートが選択されていません。\n【通信設定】->【通信ポートの設定】"
                             "より\n通信ポートを選択して下さい。"},
        {IDS_PORT_PERMISSION_DENIED,
         "COMポートのオープンに失敗しました。\n\n●このCOMポートを使用する権限がありません。\n   "
         "ユーザーを dialout グループに追加して、\n   ログインし直して下さい。"},
        {IDS_NOT_A_FILE,
         "%1 はファイルではないため、開けません。\n操作履歴のファイルを選んで下さい。"},
        {IDS_ABOUT_VERSION, "KLT, Version " KLT_VERSION},
        {IDS_ABOUT_NOTICE, "操作履歴の受信・保存・印刷ツール  Copyright (C) KLT の開発者"},
        {IDR_MAINFRAME, "KLT\n\nKLT\nKLT Files (*.txt)\n.txt\nKLT.Document\nKLT.Document"},
        {AFX_IDS_APP_TITLE, "KLT"},
        {AFX_IDS_IDLEMESSAGE, "レディ"},
        {AFX_IDS_OPENFILE, "開く"},
        {AFX_IDS_SAVEFILE, "名前を付けて保存"},
        {AFX_IDS_ALLFILTER, "すべてのファイル (*.*)"},
        {AFX_IDS_UNTITLED, "無題"},
        {IDS_ABOUT_TITLE, "バージョン情報 KLT"},
        {AFX_IDP_INVALID_FILENAME, "ファイル名が正しくありません。"},
        {AFX_IDP_FAILED_TO_OPEN_DOC, "ドキュメントを開くことに失敗しました。"},
        {AFX_IDP_FAILED_TO_SAVE_DOC, "ドキュメントの保存に失敗しました。"},
        {AFX_IDP_ASK_TO_SAVE, "%1 への変更を保存しますか?"},
        {AFX_IDP_FAILED_TO_CREATE_DOC, "空のドキュメントの作成に失敗しました。"},
        {AFX_IDP_FILE_NOT_FOUND, "%1 が見つかりませんでした。"},
        {AFX_IDP_FILE_ACCESS_DENIED, "%1 へのアクセスは拒否されました。"},
        {AFX_IDP_FILE_DISKFULL, "%1 "
                                "への書き込み中にディスクがいっぱいになりました。\n不要なファイルを"
                                "削除するか、別の場所に保存して下さい。"},
        {ID_FILE_OPEN, "操作履歴を開く"},
        {ID_FILE_SAVE_AS, "操作履歴を名前を付けて保存"},
        {ID_FILE_PRINT, "操作履歴の印刷"},
        {ID_APP_EXIT, "アプリケーションを終了し、操作履歴の保存を指示\n終了"},
        {ID_RECEIVE_START, "操作履歴の受信を開始"},
        {ID_RECEIVE_STOP, "操作履歴の受信を停止"},
        {ID_PORT_SETTINGS, "通信ポートの設定"},
        {ID_APP_ABOUT, "プログラム情報、バージョン、著作権を表示します。"},
    };
    const auto found = table.find(id);
    return found == table.end() ? "" : found->second;
}

} // namespace res
