#pragma once

// The program's own texts, exactly as the user sees them.
namespace doredaviro::text {

inline constexpr char kCaption[] = "+Korvu支援Tool  Zivev+Korvu";
inline constexpr char kIniFileName[] = "Zivev+Korvu.ini";
inline constexpr char kIniSection[] = "Korvu Path";
inline constexpr char kIniKey[] = "Path";

inline constexpr char kAlreadyRunning[] = "このアプリケーションはすでに開かれています。";
inline constexpr char kLoadErrorTitle[] = "ロードエラー";
inline constexpr char kIniMissing[] =
    "設定ファイルが見つかりません。\r\nZivev+Korvu.iniが存在するか確認して下さい。";
inline constexpr char kToolMissing[] =
    "+KorvuのPATHが見つかりません。\r\nZivev+Korvu.iniの設定を見直して下さい。";

inline constexpr char kHandOverFailed[] =
    "実行中のZivev+Korvuに項目を渡せませんでした。\r\n項目はリストに追加されていません。";

inline constexpr char kSelectToDelete[] = "削除するアイテムを選択して下さい。";
inline constexpr char kQueueFull[] = "リストに登録できる項目は32767件までです。";
inline constexpr char kQueueEmpty[] = "リストに圧縮/解凍を行う項目がありません。";
inline constexpr char kPleaseWait[] = "+Korvuの処理が完了するまでお待ち下さい。";
inline constexpr char kLaunchFailed[] =
    "+Korvuを起動できなかった項目があります。\r\n起動できなかった項目はリストに残しています。";

inline constexpr char kChkWinPos[] = "常に手前に表示";
inline constexpr char kLblMsg[] = "圧縮/解凍を行うファイルまたはフォルダをDrag＆Dropして下さい";
inline constexpr char kLblF1[] = "Ｆ１";
inline constexpr char kLblF4[] = "Ｆ４";
inline constexpr char kCmdExec[] = "実　行";
inline constexpr char kCmdClose[] = "閉じる";

// The notice when every archiver this copy started has ended; {n} and {m} are counts.
inline constexpr char kNoticeTitle[] = "+Korvuの処理が終わりました";
inline constexpr char kNoticeAllDone[] = "{n}件の処理が終わりました。";
inline constexpr char kNoticeFailed[] = "{n}件のうち{m}件が失敗しました。";
inline constexpr char kNoticeAllFailed[] = "{n}件すべて失敗しました。";
// The notice's action, where the desktop offers actions.
inline constexpr char kNoticePutBack[] = "失敗した項目をリストに戻す";
inline constexpr char kNoticeMoreFailed[] = "ほか{m}件";

// Heard through assistive technology only.
inline constexpr char kProgressName[] = "+Korvu起動の進行状況";

}  // namespace doredaviro::text
