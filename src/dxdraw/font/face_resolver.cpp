#include "dxdraw/font/face_resolver.h"

#include "core/report.h"
#include "core/text.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace DxDraw::font {

namespace {

enum class FaceStyle { Mincho, Gothic, Any };
enum class Pitch { Fixed, Proportional, Any };

struct PatternDestroy {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct FontSetDestroy {
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
struct ObjectSetDestroy {
    void operator()(FcObjectSet* s) const { FcObjectSetDestroy(s); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDestroy>;
using FontSet = std::unique_ptr<FcFontSet, FontSetDestroy>;
using ObjectSet = std::unique_ptr<FcObjectSet, ObjectSetDestroy>;

const FcChar8* Utf8(const std::string& text)
{
    return reinterpret_cast<const FcChar8*>(text.c_str());
}

// ASCII letters folded to lower case; everything else as it is.
std::u16string FoldAscii(std::u16string_view text)
{
    std::u16string folded(text);
    for (char16_t& c : folded) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return folded;
}

bool Contains(const std::u16string& folded, std::u16string_view part)
{
    return folded.find(part) != std::u16string::npos;
}

FaceStyle StyleOf(const std::u16string& folded)
{
    if (Contains(folded, u"明朝") || Contains(folded, u"mincho"))
        return FaceStyle::Mincho;
    if (Contains(folded, u"ゴシック") || Contains(folded, u"gothic"))
        return FaceStyle::Gothic;
    return FaceStyle::Any;
}

// The Windows Japanese faces come in fixed-pitch and proportional forms; the
// proportional ones carry a P (full-width in the Japanese names) or are the
// UI face.
Pitch PitchOf(const std::u16string& folded)
{
    if (Contains(folded, u"Ｐ") || Contains(folded, u"ｐ") || Contains(folded, u"pmincho")
        || Contains(folded, u"pgothic") || Contains(folded, u"ui gothic") || Contains(folded, u"ＵＩ"))
        return Pitch::Proportional;
    return Pitch::Fixed;
}

bool HasKana(FcPattern* font)
{
    FcCharSet* charset = nullptr;
    return FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) == FcResultMatch && FcCharSetHasChar(charset, kKanaProbe);
}

bool IsScalable(FcPattern* font)
{
    FcBool scalable = FcFalse;
    return FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) == FcResultMatch && scalable;
}

bool IsFixedPitch(FcPattern* font)
{
    int spacing = FC_PROPORTIONAL;
    return FcPatternGetInteger(font, FC_SPACING, 0, &spacing) == FcResultMatch && spacing >= FC_DUAL;
}

bool PitchFits(FcPattern* font, Pitch pitch)
{
    switch (pitch) {
    case Pitch::Fixed:
        return IsFixedPitch(font);
    case Pitch::Proportional:
        return !IsFixedPitch(font);
    case Pitch::Any:
        break;
    }
    return true;
}

// The family name in Japanese when the face has one, else its first family.
std::u16string FamilyOf(FcPattern* font)
{
    FcChar8* first = nullptr;
    FcPatternGetString(font, FC_FAMILY, 0, &first);
    for (int i = 0;; ++i) {
        FcChar8* family = nullptr;
        FcChar8* lang = nullptr;
        if (FcPatternGetString(font, FC_FAMILY, i, &family) != FcResultMatch)
            break;
        if (FcPatternGetString(font, FC_FAMILYLANG, i, &lang) == FcResultMatch
            && std::string_view(reinterpret_cast<const char*>(lang)) == "ja")
            return kestrel::Utf8ToUtf16(reinterpret_cast<const char*>(family));
    }
    return first ? kestrel::Utf8ToUtf16(reinterpret_cast<const char*>(first)) : std::u16string();
}

std::optional<FaceFile> FaceFileOf(FcPattern* font)
{
    FcChar8* file = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch)
        return std::nullopt;
    int index = 0;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    return FaceFile { reinterpret_cast<const char*>(file), index, FamilyOf(font) };
}

bool Usable(FcPattern* font)
{
    return IsScalable(font) && HasKana(font);
}

// The first usable font of the set whose pitch fits, else the first usable one.
std::optional<FaceFile> PickFrom(const FcFontSet* set, Pitch pitch)
{
    if (!set)
        return std::nullopt;
    for (Pitch wanted : { pitch, Pitch::Any }) {
        for (int i = 0; i < set->nfont; ++i) {
            if (Usable(set->fonts[i]) && PitchFits(set->fonts[i], wanted))
                return FaceFileOf(set->fonts[i]);
        }
    }
    return std::nullopt;
}

ObjectSet ListedObjects()
{
    return ObjectSet(FcObjectSetBuild(
        FC_FAMILY, FC_FAMILYLANG, FC_FILE, FC_INDEX, FC_CHARSET, FC_SPACING, FC_SCALABLE, static_cast<char*>(nullptr)));
}

// An installed face whose family (in any language) is the name itself. Files
// are taken in path order, so the same installation always gives the same file.
std::optional<FaceFile> InstalledFamily(const std::string& name, Pitch pitch)
{
    Pattern pattern(FcPatternCreate());
    FcPatternAddString(pattern.get(), FC_FAMILY, Utf8(name));
    ObjectSet objects = ListedObjects();
    FontSet set(FcFontList(nullptr, pattern.get(), objects.get()));
    if (!set)
        return std::nullopt;
    std::sort(set->fonts, set->fonts + set->nfont, [](FcPattern* a, FcPattern* b) {
        FcChar8* fa = nullptr;
        FcChar8* fb = nullptr;
        FcPatternGetString(a, FC_FILE, 0, &fa);
        FcPatternGetString(b, FC_FILE, 0, &fb);
        return std::string_view(fa ? reinterpret_cast<const char*>(fa) : "")
            < std::string_view(fb ? reinterpret_cast<const char*>(fb) : "");
    });
    return PickFrom(set.get(), pitch);
}

// The faces fontconfig ranks best for `family` in Japanese text.
std::optional<FaceFile> BestMatch(const std::string& family, Pitch pitch)
{
    Pattern pattern(FcPatternCreate());
    if (!family.empty())
        FcPatternAddString(pattern.get(), FC_FAMILY, Utf8(family));
    FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    FontSet set(FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result));
    return PickFrom(set.get(), pitch);
}

std::optional<FaceFile> Resolve(std::u16string_view faceName)
{
    const std::u16string folded = FoldAscii(faceName);
    const std::string name = kestrel::Utf16ToUtf8(faceName);
    const FaceStyle style = StyleOf(folded);
    const Pitch pitch = style == FaceStyle::Any ? Pitch::Any : PitchOf(folded);

    if (!name.empty()) {
        if (std::optional<FaceFile> face = InstalledFamily(name, Pitch::Any))
            return face;
    }
    switch (style) {
    case FaceStyle::Mincho:
        if (std::optional<FaceFile> face = BestMatch("serif", pitch))
            return face;
        break;
    case FaceStyle::Gothic:
        if (std::optional<FaceFile> face = BestMatch("sans-serif", pitch))
            return face;
        break;
    case FaceStyle::Any:
        break;
    }
    // fontconfig substitutes its default families for a name it does not
    // know, and the language ranks the Japanese ones first among them.
    if (std::optional<FaceFile> face = BestMatch(name, Pitch::Any))
        return face;
    return BestMatch(std::string(), Pitch::Any);
}

std::mutex& ResolverMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The configuration is released at exit: nothing of fontconfig is kept past
// a resolution, and without it the parser's allocations read as leaks.
bool InitFontconfig()
{
    static const bool ready = [] {
        if (FcInit() != FcTrue)
            return false;
        std::atexit([] { FcFini(); });
        return true;
    }();
    return ready;
}

} // namespace

std::optional<FaceFile> ResolveFace(std::u16string_view faceName)
{
    std::lock_guard lock(ResolverMutex());
    static std::map<std::u16string, std::optional<FaceFile>, std::less<>> cache;
    if (auto found = cache.find(faceName); found != cache.end())
        return found->second;
    std::optional<FaceFile> face;
    if (InitFontconfig())
        face = Resolve(faceName);
    if (!face)
        kestrel::DebugOutput(u"font: no installed face with kana for \"" + std::u16string(faceName) + u"\"");
    cache.emplace(std::u16string(faceName), face);
    return face;
}

std::vector<std::u16string> JapaneseFixedPitchFaces()
{
    std::lock_guard lock(ResolverMutex());
    std::vector<std::u16string> names;
    if (!InitFontconfig())
        return names;
    Pattern pattern(FcPatternCreate());
    FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    ObjectSet objects = ListedObjects();
    FontSet set(FcFontList(nullptr, pattern.get(), objects.get()));
    if (!set)
        return names;
    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* font = set->fonts[i];
        if (!Usable(font) || !IsFixedPitch(font))
            continue;
        std::u16string family = FamilyOf(font);
        // Vertical-writing variants are named with a leading at sign.
        if (!family.empty() && family[0] != u'@')
            names.push_back(std::move(family));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

} // namespace DxDraw::font
