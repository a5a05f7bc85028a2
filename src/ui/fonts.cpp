#include "ui/fonts.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

TextCache* gActiveTextCache = nullptr;

std::wstring& ChosenFamily() {
    // Chosen once: asking GDI+ for a family walks the installed fonts, which is slow.
    static std::wstring name = ChooseFontFamily({L"Segoe UI", L"Tahoma", L"Arial", L"DejaVu Sans"});
    return name;
}

UniqueFontFamily CreateFamily(const std::wstring& name) {
    UniqueFontFamily family;
    if (name.empty())
        return family;
    if (GdipCreateFontFamilyFromName(name.c_str(), nullptr, family.put()) != Ok)
        family.reset();
    return family;
}

UniqueFont MakeFont(GpFontFamily* family, float size, bool bold) {
    UniqueFont font;
    if (family == nullptr)
        return font;
    if (GdipCreateFont(family, size, bold ? FontStyleBold : FontStyleRegular, UnitPixel,
                       font.put()) != Ok) {
        font.reset();
    }
    return font;
}

UniqueStringFormat CreateFormat(StringAlignment align, StringAlignment lineAlign) {
    UniqueStringFormat format;
    if (GdipCreateStringFormat(0, LANG_NEUTRAL, format.put()) != Ok) {
        format.reset();
        return format;
    }
    GdipSetStringFormatAlign(format.get(), align);
    GdipSetStringFormatLineAlign(format.get(), lineAlign);
    return format;
}

}  // namespace

std::wstring ChooseFontFamily(const std::vector<std::wstring>& candidates) {
    for (const std::wstring& name : candidates) {
        if (CreateFamily(name))
            return name;
    }
    return std::wstring();
}

const std::wstring& UiFontFamilyName() {
    return ChosenFamily();
}

void SetUiFontFamilyName(const std::wstring& name) {
    ChosenFamily() = name;
}

GpFont* TextCache::Font(float size, bool bold) {
    const std::wstring& name = UiFontFamilyName();
    if (name != familyName_) {
        // The family changed under us (only tests do that): start over.
        fonts_.clear();
        family_ = CreateFamily(name);
        familyName_ = name;
    }
    for (const FontEntry& entry : fonts_) {
        if (entry.size == size && entry.bold == bold)
            return entry.font.get();
    }
    fonts_.push_back(FontEntry{name, size, bold, MakeFont(family_.get(), size, bold)});
    return fonts_.back().font.get();
}

GpStringFormat* TextCache::Format(StringAlignment align, StringAlignment lineAlign) {
    for (const FormatEntry& entry : formats_) {
        if (entry.align == align && entry.lineAlign == lineAlign)
            return entry.format.get();
    }
    formats_.push_back(FormatEntry{align, lineAlign, CreateFormat(align, lineAlign)});
    return formats_.back().format.get();
}

TextCacheScope::TextCacheScope(TextCache& cache) : previous_(gActiveTextCache) {
    gActiveTextCache = &cache;
}

TextCacheScope::~TextCacheScope() {
    gActiveTextCache = previous_;
}

UiFont::UiFont(float size, bool bold) {
    if (gActiveTextCache != nullptr) {
        font_ = gActiveTextCache->Font(size, bold);
        return;
    }
    family_ = CreateFamily(UiFontFamilyName());
    owned_ = MakeFont(family_.get(), size, bold);
    font_ = owned_.get();
}

UiFormat::UiFormat(StringAlignment align, StringAlignment lineAlign) {
    if (gActiveTextCache != nullptr) {
        format_ = gActiveTextCache->Format(align, lineAlign);
        return;
    }
    owned_ = CreateFormat(align, lineAlign);
    format_ = owned_.get();
}
