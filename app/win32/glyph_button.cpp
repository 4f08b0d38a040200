#include "app/win32/glyph_button.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A top-down 32-bit DIB section and its pixels.
HBITMAP CreatePixels(int width, int height, uint32_t** pixels) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    *pixels = static_cast<uint32_t*>(bits);
    return bitmap;
}

uint32_t Premultiplied(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
}

// Bilinear resampling of premultiplied pixels (premultiplied, so that
// transparent neighbours lend no colour to the edges); at the same size the
// pixels are copied unchanged.
void Resample(const std::vector<uint32_t>& from, SIZE fromSize, uint32_t* to, SIZE toSize) {
    if (fromSize.cx == toSize.cx && fromSize.cy == toSize.cy) {
        std::copy(from.begin(), from.end(), to);
        return;
    }
    // Source coordinate of a target pixel's centre, clamped to the source's pixel centres.
    auto source = [](int target, int fromLength, int toLength) {
        const double x = (target + 0.5) * fromLength / toLength - 0.5;
        return std::clamp(x, 0.0, static_cast<double>(fromLength - 1));
    };
    for (int y = 0; y < toSize.cy; ++y) {
        const double sy = source(y, fromSize.cy, toSize.cy);
        const int y0 = static_cast<int>(sy);
        const int y1 = std::min(y0 + 1, static_cast<int>(fromSize.cy) - 1);
        const double fy = sy - y0;
        for (int x = 0; x < toSize.cx; ++x) {
            const double sx = source(x, fromSize.cx, toSize.cx);
            const int x0 = static_cast<int>(sx);
            const int x1 = std::min(x0 + 1, static_cast<int>(fromSize.cx) - 1);
            const double fx = sx - x0;
            const uint32_t corners[4] = {from[static_cast<size_t>(y0) * fromSize.cx + x0],
                                         from[static_cast<size_t>(y0) * fromSize.cx + x1],
                                         from[static_cast<size_t>(y1) * fromSize.cx + x0],
                                         from[static_cast<size_t>(y1) * fromSize.cx + x1]};
            const double weights[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
            uint32_t pixel = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                double channel = 0;
                for (int i = 0; i < 4; ++i) channel += weights[i] * ((corners[i] >> shift) & 0xFF);
                pixel |= static_cast<uint32_t>(std::lround(channel)) << shift;
            }
            to[static_cast<size_t>(y) * toSize.cx + x] = pixel;
        }
    }
}

}  // namespace

TGlyphButton::TGlyphButton(HWND parent, int id, const std::wstring& caption, int glyphResource, int left, int top,
                           int width, int height) {
    window_ = ::CreateWindowExW(0, L"BUTTON", caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                                left, top, width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                ::GetModuleHandleW(nullptr), nullptr);

    HBITMAP source = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(glyphResource),
                                                       IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION section{};
    if (!source || !::GetObjectW(source, sizeof section, &section)) return;
    const int w = section.dsBm.bmWidth;
    const int h = section.dsBm.bmHeight;
    glyphBits_ = section.dsBm.bmBitsPixel;

    // Both depths end up as premultiplied 32-bit pixels: the 24-bit glyph's
    // lower-left colour becomes transparent, the 32-bit glyph keeps its alpha.
    std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = w;
    request.bmiHeader.biHeight = -h;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    HDC screen = ::GetDC(nullptr);
    ::GetDIBits(screen, source, 0, h, argb.data(), &request, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    ::DeleteObject(source);

    const bool hasAlpha = glyphBits_ == 32;
    const uint32_t transparent = argb[static_cast<size_t>(h - 1) * w] & 0xFFFFFF;
    artworkSize_ = {w, h};
    colour_.resize(argb.size());
    grey_.resize(argb.size());
    for (size_t i = 0; i < argb.size(); ++i) {
        const uint32_t p = argb[i];
        const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        const uint32_t a = hasAlpha ? p >> 24 : ((p & 0xFFFFFF) == transparent ? 0 : 255);
        colour_[i] = Premultiplied(r, g, b, a);
        // Disabled: the luminance lifted towards white, at half strength.
        const uint32_t luminance = 128 + (r * 30 + g * 59 + b * 11) / 200;
        grey_[i] = Premultiplied(luminance, luminance, luminance, a / 2);
    }
    SetDpi(USER_DEFAULT_SCREEN_DPI);
}

TGlyphButton::~TGlyphButton() { FreeGlyphs(); }

void TGlyphButton::FreeGlyphs() {
    if (glyph_) ::DeleteObject(glyph_);
    if (greyGlyph_) ::DeleteObject(greyGlyph_);
    glyph_ = greyGlyph_ = nullptr;
}

void TGlyphButton::SetDpi(int dpi) {
    FreeGlyphs();
    if (colour_.empty()) return;
    glyphSize_ = {::MulDiv(artworkSize_.cx, dpi, USER_DEFAULT_SCREEN_DPI),
                  ::MulDiv(artworkSize_.cy, dpi, USER_DEFAULT_SCREEN_DPI)};
    uint32_t* colour = nullptr;
    uint32_t* grey = nullptr;
    glyph_ = CreatePixels(glyphSize_.cx, glyphSize_.cy, &colour);
    greyGlyph_ = CreatePixels(glyphSize_.cx, glyphSize_.cy, &grey);
    if (!colour || !grey) return FreeGlyphs();
    Resample(colour_, artworkSize_, colour, glyphSize_);
    Resample(grey_, artworkSize_, grey, glyphSize_);
}

void TGlyphButton::Draw(const DRAWITEMSTRUCT& item) const {
    HDC dc = item.hDC;
    RECT face = item.rcItem;
    const bool pushed = item.itemState & ODS_SELECTED;
    const bool disabled = item.itemState & ODS_DISABLED;
    ::DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));

    wchar_t caption[64];
    const int length = ::GetWindowTextW(window_, caption, 64);
    HGDIOBJ oldFont = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(window_, WM_GETFONT, 0, 0)));
    SIZE text{};
    ::GetTextExtentPoint32W(dc, caption, length, &text);
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    const int shift = pushed ? 1 : 0;
    const int stackTop = (height - glyphSize_.cy - text.cy) / 2 + shift;

    HBITMAP glyph = disabled ? greyGlyph_ : glyph_;
    if (glyph) {
        HDC source = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(source, glyph);
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        ::AlphaBlend(dc, (width - glyphSize_.cx) / 2 + shift, stackTop, glyphSize_.cx, glyphSize_.cy, source, 0, 0,
                     glyphSize_.cx, glyphSize_.cy, blend);
        ::SelectObject(source, old);
        ::DeleteDC(source);
    }

    RECT captionRect{shift, stackTop + glyphSize_.cy, width + shift, stackTop + glyphSize_.cy + text.cy};
    ::SetBkMode(dc, TRANSPARENT);
    if (disabled) {
        // The system's engraved look for disabled text.
        RECT highlight = captionRect;
        ::OffsetRect(&highlight, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNHIGHLIGHT));
        ::DrawTextW(dc, caption, length, &highlight, DT_CENTER | DT_TOP | DT_SINGLELINE);
        ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
    } else {
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
    }
    ::DrawTextW(dc, caption, length, &captionRect, DT_CENTER | DT_TOP | DT_SINGLELINE);
    ::SelectObject(dc, oldFont);

    if (item.itemState & ODS_FOCUS) {
        RECT focus = face;
        ::InflateRect(&focus, -4, -4);
        ::DrawFocusRect(dc, &focus);
    }
}
