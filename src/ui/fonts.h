// The painter's one font family, and the fonts and string formats made from it.
#pragma once

#include <string>
#include <vector>

#include "ui/gdi_handles.h"

// The first of the candidates that GDI+ can find, or empty when none is installed.
std::wstring ChooseFontFamily(const std::vector<std::wstring>& candidates);

// "Segoe UI", else "Tahoma", else "Arial", else "DejaVu Sans", chosen on first use and kept for
// the process. Empty when none exists: text is then skipped. Needs GDI+ started.
const std::wstring& UiFontFamilyName();

// Replaces the process's choice; tests use it to see frames painted without any font.
void SetUiFontFamilyName(const std::wstring& name);

// Long-lived fonts and formats, lent to the drawing code while a TextCacheScope is alive. The
// painter's cached path uses them so that no font is made per frame.
class TextCache {
  public:
    TextCache() = default;
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;

    Gdiplus::GpFont* Font(float size, bool bold);
    Gdiplus::GpStringFormat* Format(Gdiplus::StringAlignment align,
                                    Gdiplus::StringAlignment lineAlign);

  private:
    struct FontEntry {
        std::wstring family;
        float size;
        bool bold;
        UniqueFont font;
    };
    struct FormatEntry {
        Gdiplus::StringAlignment align;
        Gdiplus::StringAlignment lineAlign;
        UniqueStringFormat format;
    };
    UniqueFontFamily family_;
    std::wstring familyName_;
    std::vector<FontEntry> fonts_;
    std::vector<FormatEntry> formats_;
};

class TextCacheScope {
  public:
    explicit TextCacheScope(TextCache& cache);
    ~TextCacheScope();
    TextCacheScope(const TextCacheScope&) = delete;
    TextCacheScope& operator=(const TextCacheScope&) = delete;

  private:
    TextCache* previous_;
};

// A font of the painter's family in pixels: borrowed from the active TextCache, or made for this
// one element (and deleted with this object). get() is null when no family exists.
class UiFont {
  public:
    UiFont(float size, bool bold);
    Gdiplus::GpFont* get() const { return font_; }

  private:
    UniqueFontFamily family_;
    UniqueFont owned_;
    Gdiplus::GpFont* font_ = nullptr;
};

// A string format (no flags, neutral language) with the given alignments, made or borrowed.
class UiFormat {
  public:
    UiFormat(Gdiplus::StringAlignment align, Gdiplus::StringAlignment lineAlign);
    Gdiplus::GpStringFormat* get() const { return format_; }

  private:
    UniqueStringFormat owned_;
    Gdiplus::GpStringFormat* format_ = nullptr;
};
