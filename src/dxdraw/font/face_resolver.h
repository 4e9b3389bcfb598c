// Face names as the game writes them ("ＭＳ 明朝", "ＭＳ ゴシック", or a name
// picked from the font list) turned into installed font files.
//
// The Windows Japanese faces are not installed here; their names stand for a
// style. A name with 明朝 or Mincho finds the installed Japanese Mincho
// (serif) face, one with ゴシック or Gothic the Japanese Gothic (sans-serif)
// face, fixed-pitch unless the name asks for a proportional face (Ｐ, PMincho,
// PGothic, UI Gothic). A name that is the family of an installed Japanese face
// finds that face. Any other name falls back to the Japanese face fontconfig
// prefers. Whatever the name, the face found has kana: text never falls back
// to a font that cannot show Japanese.
//
// This folder is the only place that talks to fontconfig and FreeType.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace DxDraw::font {

// The character a face must have to count as Japanese (HIRAGANA LETTER A).
inline constexpr char32_t kKanaProbe = U'\u3042';

struct FaceFile {
    std::string path; // the font file
    int index = 0; // the face inside a collection
    std::u16string family; // its family name, the Japanese one when it has one
};

// The installed face that stands for `faceName`, or nothing when no installed
// face has kana. Results are remembered per name for the life of the process.
std::optional<FaceFile> ResolveFace(std::u16string_view faceName);

// The font list: the family names (Japanese names where the face has them) of
// the installed scalable Japanese fixed-pitch faces that have kana, sorted and
// without repeats. Each resolves to its own face through ResolveFace.
std::vector<std::u16string> JapaneseFixedPitchFaces();

} // namespace DxDraw::font
