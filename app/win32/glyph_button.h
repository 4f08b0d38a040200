#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A push button drawn by its owner: the system's push-button face, the glyph
// centred above the caption with no gap, both greyed while disabled.
class TGlyphButton {
public:
    // `glyphResource` names a 24-bit bitmap (its lower-left colour is
    // transparent) or a 32-bit bitmap with alpha.
    TGlyphButton(HWND parent, int id, const std::wstring& caption, int glyphResource, int left, int top, int width,
                 int height);
    ~TGlyphButton();
    TGlyphButton(const TGlyphButton&) = delete;
    TGlyphButton& operator=(const TGlyphButton&) = delete;

    HWND Window() const { return window_; }
    // The glyph as drawn: the artwork's size at 96 DPI, scaled with the DPI.
    SIZE GlyphSize() const { return glyphSize_; }
    int GlyphBitsPerPixel() const { return glyphBits_; }
    // Scales the glyph smoothly for a screen of `dpi` dots per inch.
    void SetDpi(int dpi);
    // The parent hands over its WM_DRAWITEM for this button.
    void Draw(const DRAWITEMSTRUCT& item) const;

private:
    void FreeGlyphs();

    HWND window_;
    // The artwork's premultiplied pixels, top-down, in colour and greyed.
    std::vector<uint32_t> colour_, grey_;
    SIZE artworkSize_{};
    HBITMAP glyph_ = nullptr;     // premultiplied 32-bit at the screen's size, for AlphaBlend
    HBITMAP greyGlyph_ = nullptr;
    SIZE glyphSize_{};
    int glyphBits_ = 0;
};
