#include "Errors.h"

#include <array>
#include <string_view>

namespace sorvanto {

namespace {
constexpr std::array<std::string_view, 30> kCodeTexts = {
    "なし",
    "警告",
    "操作を完了するためのメモリが足りません",
    "ファイルの種類がサポートされていません",
    "予期しない内部エラーです。 接続、コマンド、リーダーなどのドライバ "
    "オブジェクトが既に閉じられている可能性があります。",
    "サポートされていません",
    "時刻が無効です",
    "型が無効です",
    "序数が無効です",
    "パラメータが無効です",
    "これ以上の行はありません",
    "パラメータが設定されていません",
    "ユーザー名またはパスワードが無効です",
    "精度が無効です",
    "長さが無効です",
    "排他レベルが無効です",
    "トランザクション ID が無効です",
    "トランザクション ID が重複しています",
    "ドライバが制限されています",
    "トランザクションがアクティブです",
    "複数のトランザクションは許可されていません",
    "接続に失敗しました",
    "ドライバを正しく初期化できませんでした。  "
    "クライアント "
    "ライブラリがないか、正しくインストールされていないか、バージョンが間違っています。",
    "オプティミスティック ロックに失敗しました",
    "参照が無効です",
    "テーブルがありません",
    "パラメータ マーカーがありません",
    "実装されていません",
    "ドライバの互換性がありません",
    "引数が無効です",
};
} // namespace

std::string ErrorCodeToString(int errorCode) {
    if (errorCode >= 0 && errorCode < static_cast<int>(kCodeTexts.size()))
        return std::string(kCodeTexts[static_cast<size_t>(errorCode)]);
    if (errorCode == DriverCode::NoData)
        return "データがありません";
    if (errorCode == DriverCode::VendorError)
        return "ベンダ エラーです";
    return "Error Code:  " + std::to_string(errorCode);
}

void RaiseDriverCode(int errorCode, const std::string& detail) {
    std::string message = ErrorCodeToString(errorCode);
    if (!detail.empty())
        message += ": " + detail;
    throw TDriverError(errorCode, std::move(message));
}

std::string ComponentMessage(const std::string& componentName, const std::string& message) {
    return componentName + ": " + message;
}

} // namespace sorvanto
