#include "core/exception.h"

namespace kestrel {

namespace {

constexpr std::u16string_view kScriptErrorTexts[] = {
    u"0000: None",
    u"0001: 不明なコマンドです",
    u"0002: 文字列の書き方に間違いがあります",
    u"0003: ラベルはすでに定義されています",
    u"0004: ラベルが定義されていません",
    u"0005: 使われている変数は存在しません",
    u"0006: パラメータの指定に間違いがあります",
    u"0007: 対応する IF コマンドがありません",
    u"0008: 対応する WHILE / SWITCH コマンドがありません",
    u"0009: 計算式に間違いがあります",
    u"0010: 音楽番号が範囲を超えています",
    u"0011: CG番号が範囲を超えています",
    u"0012: CGデータがロードされていません",
    u"0013: スプライトが作成されていません",
    u"0014: メニューが見つかりません",
    u"0015: 文字列以外で全角文字が使われています",
};

} // namespace

std::u16string_view ScriptErrorText(std::int32_t code)
{
    if (code < 0 || static_cast<std::size_t>(code) >= std::size(kScriptErrorTexts))
        return {};
    return kScriptErrorTexts[code];
}

std::u16string_view ScriptError::Text() const
{
    return ScriptErrorText(m_code);
}

} // namespace kestrel
