// The native updater window on its own, read back through Win32 calls.
#include "app/win32/updater_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "app/core/process_helpers.h"
#include "app/core/update_controller.h"
#include "app/waiting_program.h"
#include "app/win32/zip_writer.h"
#include "app/win32/glyph_button.h"
#include "app/win32/percentage_gauge.h"
#include "support/loopback_http_server.h"
#include "platform/message_pump.h"
#include "platform/win32/wide_text.h"
#include "support/temp_folder.h"
#include "app/core/updater_window_layout.h"

namespace fs = std::filesystem;
using platform::Narrow;
using platform::Widen;
using namespace updater_layout;

namespace {

constexpr COLORREF kBlue = RGB(0, 0, 255);
// Nothing listens on port 1, so a run there ends at once without an item.
constexpr const char* kUnreachableUrl = "127.0.0.1:1/HTTP/Quendown/Quendal.zip";

std::string Text(HWND window) {
    wchar_t text[512];
    return Narrow(std::wstring(text, static_cast<size_t>(::GetWindowTextW(window, text, 512))));
}

TControlBounds BoundsInParent(HWND window) {
    RECT r;
    ::GetWindowRect(window, &r);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

LOGFONTW FontOf(HWND window) {
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

bool FaceInstalled(const wchar_t* face) {
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

// The face asked for, or a Korean stand-in where that face is not installed.
void ExpectFace(HWND window, const char* face) {
    const std::wstring actual = FontOf(window).lfFaceName;
    if (actual == Widen(face)) return;
    EXPECT_FALSE(FaceInstalled(Widen(face).c_str())) << face << " is installed but not used";
    bool standIn = false;
    for (const char* candidate : kKoreanStandIns) standIn |= actual == Widen(candidate);
    EXPECT_TRUE(standIn) << Narrow(actual);
}

// Measures text in the control's font, and says whether the font has a glyph for every character.
struct TMeasured {
    int width;
    bool allGlyphs;
};
TMeasured Measure(HWND window, const std::string& text) {
    const std::wstring wide = Widen(text);
    HDC dc = ::GetDC(window);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    std::wstring glyphs(wide.size() + 1, L'\0');
    WORD indices[256] = {};
    ::GetGlyphIndicesW(dc, wide.c_str(), static_cast<int>(wide.size()), indices, GGI_MARK_NONEXISTING_GLYPHS);
    bool all = true;
    for (size_t i = 0; i < wide.size(); ++i) all &= wide[i] == L' ' || indices[i] != 0xFFFF;
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return {extent.cx, all};
}

// The text colour the parent gives a static control.
COLORREF TextColour(HWND control) {
    HDC dc = ::GetDC(control);
    ::SendMessageW(::GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(control));
    const COLORREF colour = ::GetTextColor(dc);
    ::ReleaseDC(control, dc);
    return colour;
}

// Asks the Linux side (the display fixture) to picture the whole screen into
// the build folder, and pumps the window until it has.
void Picture(const std::string& name) {
    const fs::path request = fs::path(QUENDAL_BUILD_DIR) / "screenshot-request";
    const fs::path picture = fs::path(QUENDAL_BUILD_DIR) / name;
    fs::remove(picture);
    std::ofstream(request) << name;
    for (int i = 0; i < 400 && fs::exists(request); ++i) {
        platform::PumpSystemMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    fs::remove(request);
    EXPECT_TRUE(fs::exists(picture)) << name << ": no picture; is the display fixture running?";
}

class Win32UpdaterWindow : public ::testing::Test {
protected:
    Win32UpdaterWindow() { platform::SetMessagePump(platform::PumpSystemMessages); }
    ~Win32UpdaterWindow() override { platform::SetMessagePump({}); }
    std::string Folder() const { return folder_.str() + "\\"; }

    std::map<std::string, HWND> Controls(TfrmUpdater& w) const {
        return {{"window", w.Window()},
                {"Bevel1", w.Bevel1},
                {"Panel2", w.Panel2},
                {"Image1", w.Image1},
                {"pnlRight", w.pnlRight},
                {"labDown", w.labDown},
                {"lblBytes", w.lblBytes},
                {"lbNum", w.lbNum},
                {"Bevel2", w.Bevel2},
                {"DownList", w.DownList},
                {"pBar", w.pBar},
                {"labUnzip", w.labUnzip},
                {"Gauge1", w.Gauge1->Window()},
                {"Gauge2", w.Gauge2->Window()},
                {"lbState", w.lbState},
                {"btnCancel", w.btnCancel->Window()},
                {"btnRedown", w.btnRedown->Window()},
                {"btnClose", w.btnClose->Window()}};
    }

    TempFolder folder_{"quendal-win32-window"};
};

TEST_F(Win32UpdaterWindow, LayoutTextFontAndStateOfEveryControl) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    HWND frame = window.Window();

    EXPECT_EQ(Text(frame), kWindowCaption);
    RECT client;
    ::GetClientRect(frame, &client);
    EXPECT_EQ(client.right, kClientWidth);
    EXPECT_EQ(client.bottom, kClientHeight);
    const LONG style = ::GetWindowLongW(frame, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "fixed border";
    RECT outer, work;
    ::GetWindowRect(frame, &outer);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((outer.left + outer.right) - (work.left + work.right)), 1) << "centred";
    EXPECT_LE(std::abs((outer.top + outer.bottom) - (work.top + work.bottom)), 1) << "centred";
    ExpectFace(frame, kWindowFont);
    EXPECT_EQ(-FontOf(frame).lfHeight, kWindowFontPixels);
    ICONINFO icon{};
    ASSERT_TRUE(::GetIconInfo(reinterpret_cast<HICON>(::GetClassLongPtrW(frame, GCLP_HICON)), &icon));
    BITMAP iconBits{};
    ::GetObjectW(icon.hbmColor, sizeof iconBits, &iconBits);
    EXPECT_EQ(iconBits.bmWidth, 48);
    EXPECT_EQ(iconBits.bmHeight, 48);
    ::DeleteObject(icon.hbmColor);
    ::DeleteObject(icon.hbmMask);

    const auto controls = Controls(window);
    for (const TControlLayout& expected : kControls) {
        SCOPED_TRACE(expected.name);
        HWND control = controls.at(expected.name);
        EXPECT_EQ(::GetParent(control), controls.at(expected.parent));
        EXPECT_EQ((::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0, expected.visible);
        EXPECT_EQ(::IsWindowEnabled(control) != FALSE, expected.enabled);
        if (!expected.caption) {
            EXPECT_EQ(BoundsInParent(control), expected.bounds);
            continue;
        }
        EXPECT_EQ(Text(control), expected.caption);
        const TMeasured text = Measure(control, expected.caption);
        EXPECT_EQ(BoundsInParent(control), Placed(expected, text.width));
        if (!expected.font) continue;
        ExpectFace(control, expected.font);
        EXPECT_EQ(-FontOf(control).lfHeight, expected.fontPixels);
        EXPECT_TRUE(text.allGlyphs) << "the font lacks glyphs of the caption";
        if (expected.width != TWidth::Fixed) {
            EXPECT_EQ(TextColour(control), expected.blue ? kBlue : ::GetSysColor(COLOR_WINDOWTEXT));
        }
    }

    // Tab order runs with the order of the children: the list, then the buttons left to right.
    std::vector<HWND> tabStops;
    for (HWND child = ::GetWindow(window.pnlRight, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) tabStops.push_back(child);
    EXPECT_EQ(tabStops, (std::vector<HWND>{window.DownList, window.btnCancel->Window(), window.btnRedown->Window(),
                                           window.btnClose->Window()}));

    EXPECT_TRUE(::GetWindowLongW(window.pBar, GWL_STYLE) & PBS_SMOOTH);
    PBRANGE range{};
    ::SendMessageW(window.pBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(::SendMessageW(window.pBar, PBM_GETPOS, 0, 0), 0);
    for (TGauge* gauge : {window.Gauge1.get(), window.Gauge2.get()}) {
        EXPECT_EQ(gauge->Progress(), 0);
        EXPECT_EQ(gauge->MaxValue(), 100);
        EXPECT_EQ(gauge->ForeColor(), kBlue);
    }

    // The hidden queue: read-only, its columns, and no rows yet.
    EXPECT_FALSE(::GetWindowLongW(window.DownList, GWL_STYLE) & LVS_EDITLABELS);
    RECT listClient;
    ::GetClientRect(window.DownList, &listClient);
    int fixedWidths = 0;
    for (const TColumnLayout& column : kQueueColumns) fixedWidths += column.width;
    for (int i = 0; i < 5; ++i) {
        wchar_t caption[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = caption;
        column.cchTextMax = 64;
        ASSERT_TRUE(ListView_GetColumn(window.DownList, i, &column)) << i;
        EXPECT_EQ(Narrow(caption), kQueueColumns[i].caption);
        EXPECT_EQ(column.cx, kQueueColumns[i].width ? kQueueColumns[i].width : listClient.right - fixedWidths);
    }
    EXPECT_EQ(ListView_GetItemCount(window.DownList), 0);

    struct Glyph {
        TGlyphButton* button;
        SIZE size;
        int bits;
    };
    for (const Glyph& g : {Glyph{window.btnCancel.get(), {16, 17}, 24}, Glyph{window.btnRedown.get(), {16, 16}, 32},
                           Glyph{window.btnClose.get(), {16, 16}, 24}}) {
        EXPECT_EQ(g.button->GlyphSize().cx, g.size.cx);
        EXPECT_EQ(g.button->GlyphSize().cy, g.size.cy);
        EXPECT_EQ(g.button->GlyphBitsPerPixel(), g.bits);
    }
}

// The pixels of a gauge at a given progress, along its middle row.
std::vector<COLORREF> MiddleRow(TGauge& gauge, int progress) {
    gauge.SetProgress(progress);
    RECT client;
    ::GetClientRect(gauge.Window(), &client);
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    gauge.Render(dc);
    std::vector<COLORREF> row;
    for (int x = 0; x < client.right; ++x) row.push_back(::GetPixel(dc, x, client.bottom / 2));
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    return row;
}

TEST_F(Win32UpdaterWindow, GaugeDrawsFrameBarAndInvertedPercentage) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    TGauge& gauge = *window.Gauge1;
    constexpr int kInner = 350;  // 352 less the frame
    struct Case {
        int progress;
        int maximum;
        int barWidth;
    };
    for (const Case c : {Case{0, 100, 0}, Case{50, 100, 175}, Case{100, 100, kInner}, Case{1, 3, 115},
                         Case{250, 200, kInner}, Case{5, 0, 0}}) {
        SCOPED_TRACE(std::to_string(c.progress) + "/" + std::to_string(c.maximum));
        gauge.SetMaxValue(c.maximum);
        const std::vector<COLORREF> row = MiddleRow(gauge, c.progress);
        EXPECT_EQ(row.front(), RGB(0, 0, 0)) << "frame";
        EXPECT_EQ(row.back(), RGB(0, 0, 0)) << "frame";
        int blue = 0, yellow = 0, black = 0;
        for (size_t x = 1; x + 1 < row.size(); ++x) {
            blue += row[x] == kBlue;
            yellow += row[x] == RGB(255, 255, 0);
            black += row[x] == RGB(0, 0, 0);
        }
        // The text is exclusive-or'ed: black on white, yellow (inverse blue) on the bar.
        EXPECT_EQ(blue + yellow, c.barWidth);
        EXPECT_EQ(yellow + black + blue + std::count(row.begin() + 1, row.end() - 1, RGB(255, 255, 255)),
                  static_cast<long>(row.size()) - 2)
            << "only the four colours of an exclusive-or'ed text";
        if (c.barWidth == kInner) {
            EXPECT_GT(yellow, 0);
        }
        if (c.barWidth == 0) {
            EXPECT_GT(black, 0);
        }
    }
}

TEST_F(Win32UpdaterWindow, BytesLabelGrowsToTheLeft) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    TUpdaterView& view = window;
    int previousLeft = 398;
    for (const char* text : {"0 / 1 KBytes", "10 / 1,024 KBytes", "1,024 / 1,024 KBytes"}) {
        SCOPED_TRACE(text);
        view.SetCaption(TUpdaterControl::lblBytes, text);
        const TControlBounds bounds = BoundsInParent(window.lblBytes);
        EXPECT_EQ(bounds.left + bounds.width, 398);
        EXPECT_LT(bounds.left, previousLeft);
        EXPECT_EQ(bounds.width, Measure(window.lblBytes, text).width);
        EXPECT_EQ(bounds.top, 76);
        EXPECT_EQ(view.Bounds(TUpdaterControl::lblBytes), bounds);
        previousLeft = bounds.left;
    }
}

TEST_F(Win32UpdaterWindow, ShowingStartsTheRunAndEveryResizeLaysOutTheSeparator) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    EXPECT_FALSE(window.Controller().Started());

    window.Show();

    EXPECT_TRUE(window.Controller().Started());
    // The release manifest first, then the archive.
    ASSERT_EQ(window.QueueRowCount(), 2);
    EXPECT_EQ(window.QueueRowCaption(0), std::string(kUnreachableUrl) + ".manifest");
    EXPECT_EQ(window.QueueRowCaption(1), kUnreachableUrl);
    EXPECT_NE(window.QueueRow(1), nullptr);
    EXPECT_EQ(BoundsInParent(window.Bevel2), (TControlBounds{0, 257, 428, 2}));

    // Minimising and restoring are resizes too.
    for (int command : {SW_MINIMIZE, SW_RESTORE}) {
        window.SetBounds(TUpdaterControl::Bevel2, {12, 257, 352, 2});
        ::ShowWindow(window.Window(), command);
        EXPECT_EQ(BoundsInParent(window.Bevel2), (TControlBounds{0, 257, 428, 2})) << command;
    }
    EXPECT_EQ(window.QueueRowCount(), 2);
}

TEST_F(Win32UpdaterWindow, DisabledButtonIgnoresClicksAndTheCloseBoxEndsTheProgram) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    window.Show();
    ::SendMessageW(window.btnRedown->Window(), BM_CLICK, 0, 0);
    EXPECT_FALSE(window.Controller().Cancelled());
    ASSERT_FALSE(ApplicationTerminationRequested());

    ::SendMessageW(window.Window(), WM_CLOSE, 0, 0);

    EXPECT_TRUE(window.Controller().Cancelled());
    EXPECT_TRUE(ApplicationTerminationRequested());
    EXPECT_FALSE(::IsWindowVisible(window.Window()));
}

// The window as the user sees it, pictured by the display fixture: in the
// middle of a download, in the unpacking state, and after a failed download.
TEST_F(Win32UpdaterWindow, PicturesOfDownloadUnpackingAndFailure) {
    constexpr int kSize = 1024 * 1024;
    const std::string half(kSize / 2, 'q');
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) +
                                "\r\nContent-Type: application/zip\r\n\r\n";
    {
        LoopbackHttpServer server;
        server.Get("/HTTP/Quendown/Quendal.zip", SendExactly(headers + half + half));  // no manifest beside it
        TfrmUpdater window(server.Url("/HTTP/Quendown/Quendal.zip").substr(7), Folder());
        // Halfway through, the download waits while the screen is pictured.
        bool pictured = false;
        platform::SetMessagePump([&] {
            platform::PumpSystemMessages();
            const int position = static_cast<int>(::SendMessageW(window.pBar, PBM_GETPOS, 0, 0));
            if (!pictured && position >= kSize / 2) {
                pictured = true;
                Picture("win32-updater-downloading.png");
                EXPECT_TRUE(Text(window.lblBytes).ends_with(" / 1,024 KBytes")) << Text(window.lblBytes);
            }
        });
        window.Show();
        platform::SetMessagePump(platform::PumpSystemMessages);
        EXPECT_TRUE(pictured);
        EXPECT_EQ(Text(window.lblBytes), "1,024 / 1,024 KBytes");
        // What arrived is no ZIP archive: it is deleted, never installed.
        EXPECT_FALSE(fs::exists(folder_ / "Quendal.zip"));
        EXPECT_EQ(Text(window.labUnzip), "Quendal.zip의 압축을 풀 수 없습니다.");

        // The unpacking state as the controller sets it: the group with both gauges.
        TUpdaterView& view = window;
        view.SetVisible(TUpdaterControl::labUnzip, true);
        view.SetMaximum(TUpdaterControl::Gauge1, 200);
        view.SetPosition(TUpdaterControl::Gauge1, 130);
        view.SetPosition(TUpdaterControl::Gauge2, 42);
        view.Repaint(TUpdaterControl::labUnzip);
        Picture("win32-updater-unpacking.png");
    }
    {
        // The server closes after half the body: the download fails.
        LoopbackHttpServer server;
        server.Get("/HTTP/Quendown/Quendal.zip", SendExactly(headers + half));  // no manifest beside it
        TfrmUpdater window(server.Url("/HTTP/Quendown/Quendal.zip").substr(7), Folder());
        window.Show();
        EXPECT_TRUE(Text(window.lblBytes).starts_with("512 / 1,024")) << Text(window.lblBytes);
        EXPECT_EQ(Text(window.labDown), "Quendal.zip을 다운받지 못했습니다.");
        EXPECT_FALSE(fs::exists(folder_ / "Quendal.zip"));
        Picture("win32-updater-download-failed.png");
    }
}

// A program folder the updater cannot write (read_only_folder_test.sh makes
// one and passes it on): the run that has administrator rights already says
// so, leaves the companion running and fetches nothing.
TEST_F(Win32UpdaterWindow, AFolderItCannotWriteIsLeftAloneWithTheCompanionRunning) {
    const char* readOnly = std::getenv("QUENDAL_TEST_READ_ONLY_FOLDER");
    if (!readOnly) GTEST_SKIP() << "run by read_only_folder_test.sh, which makes the folder";
    ASSERT_TRUE(waiting_program::Start(Folder() + TUpdateController::kCompanionProcess));
    ASSERT_TRUE(waiting_program::WaitFor([] { return IsProcessRunning(TUpdateController::kCompanionProcess); }));
    {
        TfrmUpdater window(kUnreachableUrl, std::string(readOnly) + "\\", {}, TRetryPolicy::None(), true);
        window.Show();
        EXPECT_EQ(Text(window.labDown), "프로그램 폴더에 쓸 수 없습니다. 관리자 권한으로 다시 실행하세요.");
        EXPECT_FALSE(::IsWindowEnabled(window.btnCancel->Window()));
        EXPECT_FALSE(::IsWindowEnabled(window.btnRedown->Window()));
        EXPECT_TRUE(::IsWindowEnabled(window.btnClose->Window()));
        EXPECT_EQ(window.QueueRowCount(), 0) << "a download was started";
        EXPECT_TRUE(IsProcessRunning(TUpdateController::kCompanionProcess)) << "the companion was stopped";
        Picture("win32-updater-folder-not-writable.png");
    }
    KillProcessByName(TUpdateController::kCompanionProcess);
    EXPECT_TRUE(waiting_program::WaitFor([] { return !IsProcessRunning(TUpdateController::kCompanionProcess); }));
}

// The DPI the window is expected at: the screen's as the prefix sets it
// (dpi_test.sh runs these tests at 144 and 192), 96 by default.
int ExpectedDpi() {
    const char* dpi = std::getenv("QUENDAL_TEST_DPI");
    return dpi ? std::atoi(dpi) : USER_DEFAULT_SCREEN_DPI;
}

struct TTextExtent {
    int width;
    int height;
};
TTextExtent Extent(HWND window, const std::string& text) {
    const std::wstring wide = Widen(text);
    HDC dc = ::GetDC(window);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return {extent.cx, extent.cy};
}

// Every control where the layout puts it, scaled by dpi/96 to within a pixel,
// the fonts and glyphs scaled alike, and every text inside its control.
void ExpectScaledLayout(TfrmUpdater& window, const std::map<std::string, HWND>& controls, int dpi) {
    const auto Near = [dpi](int actual, int design) {
        return std::abs(actual * USER_DEFAULT_SCREEN_DPI - design * dpi) <= dpi;
    };
    EXPECT_EQ(window.Dpi(), dpi);
    RECT client;
    ::GetClientRect(window.Window(), &client);
    EXPECT_TRUE(Near(client.right, kClientWidth)) << client.right;
    EXPECT_TRUE(Near(client.bottom, kClientHeight)) << client.bottom;
    EXPECT_TRUE(Near(-FontOf(window.Window()).lfHeight, kWindowFontPixels));
    for (const TControlLayout& expected : kControls) {
        SCOPED_TRACE(expected.name);
        HWND control = controls.at(expected.name);
        const TControlBounds actual = BoundsInParent(control);
        const std::string caption = expected.caption ? Text(control) : "";
        const TTextExtent text = Extent(control, caption);
        EXPECT_TRUE(Near(actual.top, expected.bounds.top)) << actual.top;
        EXPECT_TRUE(Near(actual.height, expected.bounds.height)) << actual.height;
        switch (expected.width) {
            case TWidth::Fixed:
                EXPECT_TRUE(Near(actual.left, expected.bounds.left)) << actual.left;
                EXPECT_TRUE(Near(actual.width, expected.bounds.width)) << actual.width;
                break;
            case TWidth::FitsText:
                EXPECT_TRUE(Near(actual.left, expected.bounds.left)) << actual.left;
                EXPECT_EQ(actual.width, text.width);
                break;
            case TWidth::FitsTextRightEdge:
                EXPECT_TRUE(Near(actual.left + actual.width, expected.bounds.left)) << actual.left + actual.width;
                EXPECT_EQ(actual.width, text.width);
                break;
        }
        if (expected.font) {
            EXPECT_TRUE(Near(-FontOf(control).lfHeight, expected.fontPixels)) << FontOf(control).lfHeight;
            EXPECT_LE(text.width, actual.width) << "the caption is clipped";
            EXPECT_LE(text.height, actual.height) << "the caption is clipped";
        }
    }
    for (TGauge* gauge : {window.Gauge1.get(), window.Gauge2.get()}) {
        const TTextExtent text = Extent(gauge->Window(), "100%");
        const TControlBounds bounds = BoundsInParent(gauge->Window());
        EXPECT_LE(text.width, bounds.width - 2);
        EXPECT_LE(text.height, bounds.height - 2) << "the percentage is clipped";
    }
    for (TGlyphButton* button : {window.btnCancel.get(), window.btnRedown.get(), window.btnClose.get()}) {
        SCOPED_TRACE(Text(button->Window()));
        EXPECT_EQ(button->GlyphSize().cx, ::MulDiv(16, dpi, USER_DEFAULT_SCREEN_DPI));
        const TTextExtent text = Extent(button->Window(), Text(button->Window()));
        const TControlBounds bounds = BoundsInParent(button->Window());
        EXPECT_LE(button->GlyphSize().cy + text.height, bounds.height) << "glyph and caption do not fit";
        EXPECT_LE(text.width, bounds.width);
    }
}

// At the screen's DPI and after a move to a screen of another, pictured in
// the unpacking state at each.
TEST_F(Win32UpdaterWindow, LayoutFontsAndGlyphsScaleWithTheDpi) {
    const int dpi = ExpectedDpi();
    TfrmUpdater window(kUnreachableUrl, Folder());
    {
        SCOPED_TRACE("at " + std::to_string(dpi) + " DPI");
        ExpectScaledLayout(window, Controls(window), dpi);
    }
    window.Show();
    TUpdaterView& view = window;
    view.SetVisible(TUpdaterControl::labUnzip, true);
    view.SetPosition(TUpdaterControl::Gauge1, 67);
    view.SetPosition(TUpdaterControl::Gauge2, 42);
    view.Repaint(TUpdaterControl::labUnzip);
    Picture("win32-updater-" + std::to_string(dpi) + "dpi.png");
    // The layout rule of every resize holds in the layout's units.
    EXPECT_EQ(view.Bounds(TUpdaterControl::Bevel2), (TControlBounds{0, 257, 428, 2}));

    // Moved to a screen of another DPI: the system suggests the new frame.
    const int moved = dpi == 144 ? 192 : 144;
    RECT frame;
    ::GetWindowRect(window.Window(), &frame);
    RECT client{0, 0, ::MulDiv(kClientWidth, moved, 96), ::MulDiv(kClientHeight, moved, 96)};
    ::AdjustWindowRectEx(&client, ::GetWindowLongW(window.Window(), GWL_STYLE), FALSE,
                         ::GetWindowLongW(window.Window(), GWL_EXSTYLE));
    RECT suggested{frame.left, frame.top, frame.left + client.right - client.left,
                   frame.top + client.bottom - client.top};
    ::SendMessageW(window.Window(), WM_DPICHANGED, MAKEWPARAM(moved, moved), reinterpret_cast<LPARAM>(&suggested));
    {
        SCOPED_TRACE("moved to " + std::to_string(moved) + " DPI");
        // The separator keeps the place the last resize gave it.
        auto expected = Controls(window);
        EXPECT_EQ(view.Bounds(TUpdaterControl::Bevel2), (TControlBounds{0, 257, 428, 2}));
        view.SetBounds(TUpdaterControl::Bevel2, {12, 257, 352, 2});
        ExpectScaledLayout(window, expected, moved);
    }
}

// A large update through the window: the gauges follow the extraction, the
// screen pictured twice while it runs shows them further on, and both end at
// 100 % with the files in place.
TEST_F(Win32UpdaterWindow, ALargeUpdateMovesBothGaugesToTheirEnd) {
    const fs::path source = folder_.path() / "source";
    fs::create_directories(source / "data");
    {
        // One entry of 64 MB that packs small, and a few small ones after it.
        std::string block(4096, '\0');
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 7919 + i / 13) & 0xFF);
        std::ofstream big(source / "data" / "big.bin", std::ios::binary);
        for (int i = 0; i < 64 * 256; ++i) big << block;
        for (int i = 0; i < 3; ++i) std::ofstream(source / "data" / ("note" + std::to_string(i) + ".txt")) << "notes";
    }
    const std::string archive = zip_writer::ZipFolder(source, folder_.path() / "served.zip");
    fs::remove_all(source);
    fs::remove(folder_.path() / "served.zip");
    LoopbackHttpServer server;
    server.Otherwise(SendExactly("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(archive.size()) +
                                 "\r\nContent-Type: application/zip\r\n\r\n" + archive));
    TfrmUpdater window(server.Url("/HTTP/Quendown/Quendal.zip").substr(7), Folder());
    // Pictured once the whole-archive gauge shows some progress, and again
    // once it shows more; the extraction waits in the pump meanwhile.
    std::vector<std::pair<int, int>> pictured;  // both gauges' percentages
    platform::SetMessagePump([&] {
        platform::PumpSystemMessages();
        const int whole = window.Gauge2->PercentDone();
        if (pictured.size() < 2 && ::IsWindowVisible(window.labUnzip) && whole > 0 && whole < 100 &&
            (pictured.empty() || whole > pictured.back().second)) {
            pictured.emplace_back(window.Gauge1->PercentDone(), whole);
            Picture("win32-updater-extracting-" + std::to_string(pictured.size()) + ".png");
        }
    });

    window.Show();

    platform::SetMessagePump(platform::PumpSystemMessages);
    ASSERT_EQ(pictured.size(), 2u) << "the gauges did not move during the extraction";
    EXPECT_LT(pictured[0].second, pictured[1].second);
    EXPECT_EQ(window.Gauge1->PercentDone(), 100);
    EXPECT_EQ(window.Gauge2->PercentDone(), 100);
    EXPECT_EQ(Text(window.labUnzip), "압축을 풀었습니다. 설치를 진행합니다.");
    EXPECT_EQ(fs::file_size(folder_.path() / "data" / "big.bin"), 64u * 1024 * 1024);
    EXPECT_FALSE(fs::exists(folder_.path() / "Quendal.zip"));
}

}  // namespace
