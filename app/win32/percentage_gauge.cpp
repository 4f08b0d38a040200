#include "app/win32/percentage_gauge.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

namespace {

constexpr wchar_t kClassName[] = L"QuendalGauge";

void RegisterClassOnce() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kClassName;
        return ::RegisterClassW(&windowClass) != 0;
    }();
    (void)registered;
}

}  // namespace

TGauge::TGauge(HWND parent, int left, int top, int width, int height, COLORREF barColor) : foreColor_(barColor) {
    RegisterClassOnce();
    window_ = ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, left, top, width, height, parent,
                                nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TGauge::WindowProc));
}

TGauge::~TGauge() {
    if (window_) ::DestroyWindow(window_);
    if (textFont_) ::DeleteObject(textFont_);
}

// Exclusive-or with white inverts what lies under the glyphs; smoothed edges
// would leave coloured fringes instead, so the text goes without smoothing.
void TGauge::SetFont(HFONT font) {
    font_ = font;
    if (textFont_) ::DeleteObject(textFont_);
    textFont_ = nullptr;
    LOGFONTW description{};
    if (font && ::GetObjectW(font, sizeof description, &description)) {
        description.lfQuality = NONANTIALIASED_QUALITY;
        textFont_ = ::CreateFontIndirectW(&description);
    }
}

TGauge* TGauge::Of(HWND window) { return reinterpret_cast<TGauge*>(::GetWindowLongPtrW(window, GWLP_USERDATA)); }

void TGauge::SetMaxValue(int value) {
    const int shown = PercentDone();
    maxValue_ = value;
    if (window_ && PercentDone() != shown) ::InvalidateRect(window_, nullptr, FALSE);
}

// Only a change of the percentage changes the picture.
void TGauge::SetProgress(int value) {
    const int shown = PercentDone();
    progress_ = value;
    if (window_ && PercentDone() != shown) ::InvalidateRect(window_, nullptr, FALSE);
}

int TGauge::PercentDone() const {
    const int64_t range = int64_t{maxValue_} - minValue_;
    if (range == 0) return 0;
    return static_cast<int>((int64_t{progress_} - minValue_) * 100 / range);
}

void TGauge::Render(HDC target) const {
    RECT outer;
    ::GetClientRect(window_, &outer);
    const int width = outer.right;
    const int height = outer.bottom;

    // Drawn off-screen and copied in one step, so frequent updates do not flicker.
    HDC image = ::CreateCompatibleDC(target);
    HBITMAP bitmap = ::CreateCompatibleBitmap(target, width, height);
    HGDIOBJ oldBitmap = ::SelectObject(image, bitmap);

    HBRUSH black = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    ::FrameRect(image, &outer, black);
    RECT inner{1, 1, width - 1, height - 1};
    ::FillRect(image, &inner, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));

    const int innerWidth = inner.right - inner.left;
    const int innerHeight = inner.bottom - inner.top;
    const int percent = PercentDone();
    const int barWidth = static_cast<int>(std::min<int64_t>(int64_t{innerWidth} * percent / 100, innerWidth));
    if (barWidth >= 1) {
        RECT bar{inner.left, inner.top, inner.left + barWidth, inner.bottom};
        HBRUSH brush = ::CreateSolidBrush(foreColor_);
        ::FillRect(image, &bar, brush);
        ::DeleteObject(brush);
    }

    // The text is drawn white on black in a mask and exclusive-or'ed onto the
    // picture: white glyph pixels invert what lies under them, black ones keep it.
    wchar_t text[16];
    const int length = std::swprintf(text, 16, L"%d%%", percent);
    HDC mask = ::CreateCompatibleDC(target);
    HBITMAP maskBitmap = ::CreateCompatibleBitmap(target, width, height);
    HGDIOBJ oldMaskBitmap = ::SelectObject(mask, maskBitmap);
    ::FillRect(mask, &outer, black);
    HGDIOBJ oldFont = ::SelectObject(mask, textFont_ ? textFont_ : ::GetStockObject(DEFAULT_GUI_FONT));
    SIZE extent{};
    ::GetTextExtentPoint32W(mask, text, length, &extent);
    ::SetBkMode(mask, TRANSPARENT);
    ::SetTextColor(mask, RGB(255, 255, 255));
    ::TextOutW(mask, inner.left + (innerWidth - extent.cx) / 2, inner.top + (innerHeight - extent.cy) / 2, text,
               length);
    ::BitBlt(image, 0, 0, width, height, mask, 0, 0, SRCINVERT);
    ::SelectObject(mask, oldFont);
    ::SelectObject(mask, oldMaskBitmap);
    ::DeleteObject(maskBitmap);
    ::DeleteDC(mask);

    ::BitBlt(target, 0, 0, width, height, image, 0, 0, SRCCOPY);
    ::SelectObject(image, oldBitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(image);
}

LRESULT CALLBACK TGauge::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TGauge* gauge = Of(window);
    if (!gauge) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_SETFONT:
            gauge->SetFont(reinterpret_cast<HFONT>(wParam));
            if (LOWORD(lParam)) ::InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(gauge->font_);
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            gauge->Render(dc);
            ::EndPaint(window, &paint);
            return 0;
        }
        case WM_NCDESTROY:
            // The parent went first; the object must not destroy the window again.
            gauge->window_ = nullptr;
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}
