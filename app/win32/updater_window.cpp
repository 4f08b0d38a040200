#include "app/win32/updater_window.h"

#include <commctrl.h>

#include <initializer_list>
#include <iterator>

#include "app/core/update_controller.h"
#include "app/core/updater_window_layout.h"
#include "archive/unzip.h"
#include "app/win32/glyph_button.h"
#include "app/win32/percentage_gauge.h"
#include "app/win32/resource_ids.h"
#include "download/download_component.h"
#include "platform/win32/wide_text.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TfrmUpdater";
constexpr wchar_t kPanelClass[] = L"QuendalPanel";
using updater_layout::kClientHeight;
using updater_layout::kClientWidth;
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
enum : int { kCancelId = 1, kRedownId, kCloseId };

bool terminationRequested = false;

using platform::Narrow;
using platform::Widen;

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

bool FontInstalled(const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC screen = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(
        screen, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    return found;
}

// The face, or where it is missing the first installed Korean face standing
// in, so the Hangul glyphs still show.
HFONT CreatePixelFont(const char* face, int pixelHeight) {
    std::wstring chosen = Widen(face);
    if (!FontInstalled(chosen.c_str()))
        for (const char* standIn : updater_layout::kKoreanStandIns)
            if (FontInstalled(Widen(standIn).c_str())) {
                chosen = Widen(standIn);
                break;
            }
    return ::CreateFontW(-pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, chosen.c_str());
}

// The per-monitor DPI functions came with Windows 10; before it, the
// system's DPI serves for every window.
template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

int SystemDpi() {
    if (auto getDpiForSystem = User32Function<UINT(WINAPI*)()>("GetDpiForSystem"))
        return static_cast<int>(getDpiForSystem());
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

int WindowDpi(HWND window) {
    if (auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow"))
        if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
    return SystemDpi();
}

void AdjustFrameForDpi(RECT& frame, DWORD style, DWORD exStyle, int dpi) {
    if (auto adjust = User32Function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi"))
        adjust(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi));
    else
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
}

void RegisterClasses() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = Instance();
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.hIcon = static_cast<HICON>(
            ::LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_QUENDAL), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR));
        windowClass.lpszClassName = kWindowClass;
        ::RegisterClassExW(&windowClass);
        windowClass.hIcon = nullptr;
        windowClass.lpszClassName = kPanelClass;
        ::RegisterClassExW(&windowClass);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        return ::InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)registered;
}

HWND Child(const wchar_t* windowClass, const wchar_t* text, DWORD style, HWND parent) {
    return ::CreateWindowExW(0, windowClass, text, WS_CHILD | style, 0, 0, 0, 0, parent, nullptr, Instance(), nullptr);
}

void SetFont(HWND control, HFONT font) { ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

bool ApplicationTerminationRequested() { return terminationRequested; }

TfrmUpdater::TfrmUpdater(const std::string& updateUrl, const std::string& programFolder,
                         const std::string& publicKeyPem, TRetryPolicy retryPolicy, bool elevatedRun)
    : download_(std::make_unique<TWinHTTPDownload>()), unzip_(std::make_unique<TUnZip>()) {
    CreateControls();
    // The window's stored settings differ from the component's defaults here.
    unzip_->SetCpuType(cptAuto);
    unzip_->SetConfirmOverwrites(true);
    controller_ =
        std::make_unique<TUpdateController>(*this, *download_, *unzip_, updateUrl, programFolder, publicKeyPem);
    controller_->SetRetryPolicy(retryPolicy);
    controller_->SetElevatedRun(elevatedRun);
    controller_->FormCreate();
}

TfrmUpdater::~TfrmUpdater() {
    // The gauges and buttons outlive their windows here, so they never destroy them twice.
    if (window_) ::DestroyWindow(window_);
    for (HFONT font : {windowFont_, bytesFont_}) ::DeleteObject(font);
    ::DeleteObject(banner_);
    ::DeleteObject(whiteBrush_);
}

HWND TfrmUpdater::Panel(HWND parent, HBITMAP picture) {
    HWND panel = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                   0, 0, parent, nullptr, Instance(), nullptr);
    ::SetPropW(panel, L"picture", picture);
    ::SetWindowLongPtrW(panel, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TfrmUpdater::WindowProc));
    return panel;
}

void TfrmUpdater::CreateControls() {
    using updater_layout::Control;
    RegisterClasses();
    banner_ = static_cast<HBITMAP>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, 0));
    whiteBrush_ = ::CreateSolidBrush(RGB(255, 255, 255));

    // Centred on the work area, with the client area at its design size
    // scaled to the screen's DPI.
    dpi_ = SystemDpi();
    RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    AdjustFrameForDpi(frame, kWindowStyle, WS_EX_CONTROLPARENT, dpi_);
    RECT work;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    window_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, Widen(updater_layout::kWindowCaption).c_str(),
                                kWindowStyle, work.left + (work.right - work.left - width) / 2,
                                work.top + (work.bottom - work.top - height) / 2, width, height, nullptr, nullptr,
                                Instance(), nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TfrmUpdater::WindowProc));

    // Each control's bounds at 96 DPI are recorded as it is made; ApplyDpi
    // then places the lot, scaled to the window's screen.
    Bevel1 = Made(L"STATIC", SS_SUNKEN, Control("Bevel1"), window_);
    Panel2 = Laid(Panel(window_, nullptr), Control("Panel2").bounds);
    Image1 = Laid(Panel(Panel2, banner_), Control("Image1").bounds);
    pnlRight = Laid(Panel(window_, nullptr), Control("pnlRight").bounds);

    labDown = Made(L"STATIC", SS_LEFT | SS_NOPREFIX, Control("labDown"), pnlRight);
    lblBytes = Made(L"STATIC", SS_RIGHT | SS_NOPREFIX, Control("lblBytes"), pnlRight);
    lbNum = Made(L"STATIC", SS_LEFT, Control("lbNum"), pnlRight);
    Bevel2 = Made(L"STATIC", SS_SUNKEN, Control("Bevel2"), pnlRight);

    DownList = Made(WC_LISTVIEWW, WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL, Control("DownList"), pnlRight);
    int columnIndex = 0;
    for (const updater_layout::TColumnLayout& layout : updater_layout::kQueueColumns) {
        std::wstring caption = Widen(layout.caption);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT;
        column.pszText = caption.data();
        ListView_InsertColumn(DownList, columnIndex++, &column);
    }

    pBar = Made(PROGRESS_CLASSW, PBS_SMOOTH, Control("pBar"), pnlRight);
    ::SendMessageW(pBar, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(pBar, PBM_SETPOS, 0, 0);

    labUnzip = Made(L"BUTTON", BS_GROUPBOX | WS_CLIPSIBLINGS, Control("labUnzip"), pnlRight);
    // The container's sunken edge just outside each gauge.
    for (const TControlBounds& gauge : {Control("Gauge1").bounds, Control("Gauge2").bounds})
        Laid(Child(L"STATIC", L"", WS_VISIBLE | SS_SUNKEN, labUnzip),
             {gauge.left - 1, gauge.top - 1, gauge.width + 2, gauge.height + 2});
    Gauge1 = std::make_unique<TGauge>(labUnzip, 0, 0, 0, 0, kBlue);
    Gauge2 = std::make_unique<TGauge>(labUnzip, 0, 0, 0, 0, kBlue);
    Laid(Gauge1->Window(), Control("Gauge1").bounds);
    Laid(Gauge2->Window(), Control("Gauge2").bounds);
    lbState = Made(L"STATIC", SS_LEFT | SS_NOPREFIX, Control("lbState"), labUnzip);

    btnCancel = Button(kCancelId, IDB_CANCEL, Control("btnCancel"));
    btnRedown = Button(kRedownId, IDB_RESTART, Control("btnRedown"));
    btnClose = Button(kCloseId, IDB_CLOSE, Control("btnClose"));

    ApplyDpi(WindowDpi(window_));
}

HWND TfrmUpdater::Laid(HWND control, const TControlBounds& design) {
    design_[control] = design;
    return control;
}

// A child control as the layout has it at start: caption, shown, enabled.
HWND TfrmUpdater::Made(const wchar_t* windowClass, DWORD style, const updater_layout::TControlLayout& layout,
                       HWND parent) {
    const std::wstring caption = layout.caption ? Widen(layout.caption) : std::wstring();
    style |= (layout.visible ? WS_VISIBLE : 0) | (layout.enabled ? 0 : WS_DISABLED);
    return Laid(Child(windowClass, caption.c_str(), style, parent), layout.bounds);
}

std::unique_ptr<TGlyphButton> TfrmUpdater::Button(int id, int glyph, const updater_layout::TControlLayout& layout) {
    auto button = std::make_unique<TGlyphButton>(pnlRight, id, Widen(layout.caption).c_str(), glyph, 0, 0, 0, 0);
    Laid(button->Window(), layout.bounds);
    if (!layout.enabled) ::EnableWindow(button->Window(), FALSE);
    return button;
}

int TfrmUpdater::Scaled(int length) const { return ::MulDiv(length, dpi_, USER_DEFAULT_SCREEN_DPI); }

void TfrmUpdater::Place(HWND control) {
    const TControlBounds& design = design_.at(control);
    ::SetWindowPos(control, nullptr, Scaled(design.left), Scaled(design.top), Scaled(design.width),
                   Scaled(design.height), SWP_NOZORDER | SWP_NOACTIVATE);
    if (control == labDown || control == lblBytes || control == lbState) FitLabel(control);
}

// Fonts, bounds, glyphs and the list's columns for a screen of `dpi`; the
// layout stays the design's at 96 DPI.
void TfrmUpdater::ApplyDpi(int dpi) {
    using updater_layout::Control;
    dpi_ = dpi;
    const HFONT oldFonts[] = {windowFont_, bytesFont_};
    windowFont_ = CreatePixelFont(updater_layout::kWindowFont, Scaled(updater_layout::kWindowFontPixels));
    bytesFont_ = CreatePixelFont(Control("lblBytes").font, Scaled(Control("lblBytes").fontPixels));
    SetFont(window_, windowFont_);
    for (HWND control : {labDown, lbNum, DownList, labUnzip, Gauge1->Window(), Gauge2->Window(), lbState,
                         btnCancel->Window(), btnRedown->Window(), btnClose->Window()})
        SetFont(control, windowFont_);
    SetFont(lblBytes, bytesFont_);
    for (HFONT font : oldFonts) ::DeleteObject(font);

    for (const auto& [control, design] : design_) Place(control);
    for (const auto& button : {btnCancel.get(), btnRedown.get(), btnClose.get()}) button->SetDpi(dpi);

    // A column of no width takes what the others leave of the list's width.
    RECT listClient;
    ::GetClientRect(DownList, &listClient);
    int rest = listClient.right;
    int stretched = -1;
    for (int i = 0; i < static_cast<int>(std::size(updater_layout::kQueueColumns)); ++i) {
        if (const int width = updater_layout::kQueueColumns[i].width) {
            ListView_SetColumnWidth(DownList, i, Scaled(width));
            rest -= Scaled(width);
        } else {
            stretched = i;
        }
    }
    if (stretched >= 0) ListView_SetColumnWidth(DownList, stretched, rest);
    ::InvalidateRect(window_, nullptr, TRUE);
}

void TfrmUpdater::Show() {
    const int before = resizesDelivered_;
    ::ShowWindow(window_, SW_SHOW);
    ::UpdateWindow(window_);
    // Showing is the first resize the controller hears of, whether or not the
    // system sent one on the way.
    if (resizesDelivered_ == before) DeliverResize();
}

void TfrmUpdater::DeliverResize() {
    ++resizesDelivered_;
    controller_->FormResize();
}

LRESULT CALLBACK TfrmUpdater::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TfrmUpdater*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(window, message, wParam, lParam);
}

LRESULT TfrmUpdater::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GETFONT:
            if (window == window_) return reinterpret_cast<LRESULT>(windowFont_);
            break;
        case WM_CTLCOLORSTATIC: {
            HWND control = reinterpret_cast<HWND>(lParam);
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            ::SetTextColor(dc, control == labDown || control == lblBytes ? kBlue : ::GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_ERASEBKGND:
            if (window == Panel2) {
                RECT client;
                ::GetClientRect(window, &client);
                ::FillRect(reinterpret_cast<HDC>(wParam), &client, whiteBrush_);
                return 1;
            }
            break;
        case WM_PAINT:
            if (auto picture = static_cast<HBITMAP>(::GetPropW(window, L"picture"))) {
                // The banner is stretched to fill its panel from top to bottom.
                PAINTSTRUCT paint;
                HDC dc = ::BeginPaint(window, &paint);
                RECT client;
                ::GetClientRect(window, &client);
                BITMAP size{};
                ::GetObjectW(picture, sizeof size, &size);
                HDC source = ::CreateCompatibleDC(dc);
                HGDIOBJ old = ::SelectObject(source, picture);
                ::SetStretchBltMode(dc, HALFTONE);
                ::StretchBlt(dc, 0, 0, client.right, client.bottom, source, 0, 0, size.bmWidth, size.bmHeight,
                             SRCCOPY);
                ::SelectObject(source, old);
                ::DeleteDC(source);
                ::EndPaint(window, &paint);
                return 0;
            }
            break;
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            for (const auto& button : {btnCancel.get(), btnRedown.get(), btnClose.get()})
                if (button && item.hwndItem == button->Window()) {
                    button->Draw(item);
                    return TRUE;
                }
            break;
        }
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                switch (LOWORD(wParam)) {
                    case kCancelId: controller_->btnCancelClick(); return 0;
                    case kRedownId: controller_->btnRedownClick(); return 0;
                    case kCloseId: controller_->btnCloseClick(); return 0;
                }
            }
            break;
        case WM_DPICHANGED:
            if (window == window_) {
                // Moved to a screen of another DPI: everything scales, and the
                // window takes the place the system suggests.
                ApplyDpi(HIWORD(wParam));
                const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
                ::SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
                return 0;
            }
            break;
        case WM_SIZE:
            // Minimising and restoring count as resizes too.
            if (window == window_ && ::IsWindowVisible(window_) && controller_) DeliverResize();
            return 0;
        case WM_CLOSE:
            if (window == window_) {
                bool canClose = false;
                controller_->FormCloseQuery(canClose);
                if (canClose) ::ShowWindow(window_, SW_HIDE);
                return 0;
            }
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void TfrmUpdater::FitLabel(HWND label) {
    const std::wstring text = WindowText(label);
    HDC dc = ::GetDC(label);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);

    RECT r;
    ::GetWindowRect(label, &r);
    ::MapWindowPoints(nullptr, ::GetParent(label), reinterpret_cast<POINT*>(&r), 2);
    const bool rightAnchored = ::GetWindowLongW(label, GWL_STYLE) & SS_RIGHT;
    const int left = rightAnchored ? r.right - extent.cx : r.left;
    ::SetWindowPos(label, nullptr, left, r.top, extent.cx, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(::GetParent(label), nullptr, TRUE);
}

HWND TfrmUpdater::Control(TUpdaterControl control) const {
    switch (control) {
        case TUpdaterControl::labDown: return labDown;
        case TUpdaterControl::lblBytes: return lblBytes;
        case TUpdaterControl::labUnzip: return labUnzip;
        case TUpdaterControl::pBar: return pBar;
        case TUpdaterControl::Gauge1: return Gauge1->Window();
        case TUpdaterControl::Gauge2: return Gauge2->Window();
        case TUpdaterControl::Bevel2: return Bevel2;
        case TUpdaterControl::pnlRight: return pnlRight;
        case TUpdaterControl::btnCancel: return btnCancel->Window();
        case TUpdaterControl::btnRedown: return btnRedown->Window();
        case TUpdaterControl::btnClose: return btnClose->Window();
    }
    return nullptr;
}

void TfrmUpdater::SetWindowCaption(const std::string& text) { ::SetWindowTextW(window_, Widen(text).c_str()); }

void TfrmUpdater::SetCaption(TUpdaterControl control, const std::string& text) {
    HWND target = Control(control);
    ::SetWindowTextW(target, Widen(text).c_str());
    if (target == labDown || target == lblBytes) FitLabel(target);
    ::InvalidateRect(target, nullptr, TRUE);
}

void TfrmUpdater::SetVisible(TUpdaterControl control, bool visible) {
    ::ShowWindow(Control(control), visible ? SW_SHOWNA : SW_HIDE);
}

void TfrmUpdater::SetEnabled(TUpdaterControl control, bool enabled) { ::EnableWindow(Control(control), enabled); }

void TfrmUpdater::Repaint(TUpdaterControl control) {
    HWND target = Control(control);
    ::RedrawWindow(target, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void TfrmUpdater::SetMaximum(TUpdaterControl control, int maximum) {
    if (control == TUpdaterControl::pBar) {
        const int position = static_cast<int>(::SendMessageW(pBar, PBM_GETPOS, 0, 0));
        ::SendMessageW(pBar, PBM_SETRANGE32, 0, maximum);
        ::SendMessageW(pBar, PBM_SETPOS, position, 0);
    } else if (control == TUpdaterControl::Gauge1) {
        Gauge1->SetMaxValue(maximum);
    } else if (control == TUpdaterControl::Gauge2) {
        Gauge2->SetMaxValue(maximum);
    }
}

void TfrmUpdater::SetPosition(TUpdaterControl control, int position) {
    if (control == TUpdaterControl::pBar)
        ::SendMessageW(pBar, PBM_SETPOS, position, 0);
    else if (control == TUpdaterControl::Gauge1)
        Gauge1->SetProgress(position);
    else if (control == TUpdaterControl::Gauge2)
        Gauge2->SetProgress(position);
}

// The controller works in the layout's 96-DPI units, whatever the screen.
TControlBounds TfrmUpdater::Bounds(TUpdaterControl control) const {
    HWND target = Control(control);
    RECT r;
    ::GetWindowRect(target, &r);
    ::MapWindowPoints(nullptr, ::GetParent(target), reinterpret_cast<POINT*>(&r), 2);
    const auto unscaled = [this](int length) { return ::MulDiv(length, USER_DEFAULT_SCREEN_DPI, dpi_); };
    return {unscaled(r.left), unscaled(r.top), unscaled(r.right - r.left), unscaled(r.bottom - r.top)};
}

void TfrmUpdater::SetBounds(TUpdaterControl control, const TControlBounds& bounds) {
    HWND target = Control(control);
    design_[target] = bounds;
    Place(target);
}

void* TfrmUpdater::AddQueueRow(const std::string& caption) {
    rows_.push_back(std::make_unique<int>(static_cast<int>(rows_.size())));
    std::wstring text = Widen(caption);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = static_cast<int>(rows_.size()) - 1;
    item.pszText = text.data();
    item.lParam = reinterpret_cast<LPARAM>(rows_.back().get());
    const int index = ListView_InsertItem(DownList, &item);
    for (int sub : {1, 2}) ListView_SetItemText(DownList, index, sub, const_cast<wchar_t*>(L""));
    return rows_.back().get();
}

int TfrmUpdater::QueueRowCount() const { return ListView_GetItemCount(DownList); }

void* TfrmUpdater::QueueRow(int index) const {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    ListView_GetItem(DownList, &item);
    return reinterpret_cast<void*>(item.lParam);
}

std::string TfrmUpdater::QueueRowCaption(int index) const {
    wchar_t text[2084];
    ListView_GetItemText(DownList, index, 0, text, 2084);
    return Narrow(text);
}

std::string TfrmUpdater::ThousandsSeparator() const {
    wchar_t separator[8] = L",";
    ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8);
    return Narrow(separator);
}

void TfrmUpdater::ShowError(const std::string& text) {
    ::MessageBoxW(window_, Widen(text).c_str(), L"Quendal", MB_OK | MB_ICONERROR);
}

bool TfrmUpdater::AskRetry(const std::string& text) {
    return ::MessageBoxW(window_, Widen(text).c_str(), L"Quendal", MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

void TfrmUpdater::RequestTermination() {
    // The main loop ends once the handler chain has unwound into it; the
    // posted message wakes it should it be waiting.
    terminationRequested = true;
    ::PostMessageW(window_, WM_NULL, 0, 0);
}
