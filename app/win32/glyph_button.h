#pragma once

#include <windows.h>

#include <string>

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
    SIZE GlyphSize() const { return glyphSize_; }
    int GlyphBitsPerPixel() const { return glyphBits_; }
    // The parent hands over its WM_DRAWITEM for this button.
    void Draw(const DRAWITEMSTRUCT& item) const;

private:
    HWND window_;
    HBITMAP glyph_ = nullptr;     // premultiplied 32-bit, for AlphaBlend
    HBITMAP greyGlyph_ = nullptr;
    SIZE glyphSize_{};
    int glyphBits_ = 0;
};
