#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/download_retry.h"
#include "app/core/updater_view.h"

class TGauge;
class TGlyphButton;
class TUpdateController;
class TWinHTTPDownload;
class TUnZip;
namespace updater_layout {
struct TControlLayout;
}

// The updater's one window, made of native controls. It lays out the
// controls, hosts the download component and hands every notification to
// the workflow controller, which drives the controls back through TUpdaterView.
class TfrmUpdater : public TUpdaterView {
public:
    // Creating the window runs the controller's creation step; Show delivers
    // the first resize, which starts the update run.
    // `elevatedRun`: started with administrator rights by an earlier run.
    TfrmUpdater(const std::string& updateUrl, const std::string& programFolder, const std::string& publicKeyPem = {},
                TRetryPolicy retryPolicy = TRetryPolicy::None(), bool elevatedRun = false);
    ~TfrmUpdater() override;
    TfrmUpdater(const TfrmUpdater&) = delete;
    TfrmUpdater& operator=(const TfrmUpdater&) = delete;

    void Show();
    HWND Window() const { return window_; }
    // The dots per inch the window is laid out for.
    int Dpi() const { return dpi_; }

    // TUpdaterView
    void SetWindowCaption(const std::string& text) override;
    void SetCaption(TUpdaterControl control, const std::string& text) override;
    void SetVisible(TUpdaterControl control, bool visible) override;
    void SetEnabled(TUpdaterControl control, bool enabled) override;
    void Repaint(TUpdaterControl control) override;
    void SetMaximum(TUpdaterControl control, int maximum) override;
    void SetPosition(TUpdaterControl control, int position) override;
    TControlBounds Bounds(TUpdaterControl control) const override;
    void SetBounds(TUpdaterControl control, const TControlBounds& bounds) override;
    void* AddQueueRow(const std::string& caption) override;
    int QueueRowCount() const override;
    void* QueueRow(int index) const override;
    std::string QueueRowCaption(int index) const override;
    std::string ThousandsSeparator() const override;
    void ShowError(const std::string& text) override;
    bool AskRetry(const std::string& text) override;
    void RequestTermination() override;

    // The controls, by their names in the window's layout.
    HWND Bevel1, Panel2, Image1, pnlRight, labDown, lblBytes, lbNum, Bevel2, DownList, pBar, labUnzip, lbState;
    std::unique_ptr<TGauge> Gauge1, Gauge2;
    std::unique_ptr<TGlyphButton> btnCancel, btnRedown, btnClose;

    TWinHTTPDownload& WinHTTPDownload() { return *download_; }
    TUnZip& UnZip1() { return *unzip_; }
    TUpdateController& Controller() { return *controller_; }

private:
    // One window procedure serves the window and its panels: the panels pass
    // their children's notifications up to it.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    HWND Panel(HWND parent, HBITMAP picture);
    // Records where the layout puts a control at 96 DPI.
    HWND Laid(HWND control, const TControlBounds& design);
    HWND Made(const wchar_t* windowClass, DWORD style, const updater_layout::TControlLayout& layout, HWND parent);
    std::unique_ptr<TGlyphButton> Button(int id, int glyph, const updater_layout::TControlLayout& layout);
    int Scaled(int length) const;
    // Moves a control to its layout bounds at the window's DPI.
    void Place(HWND control);
    void ApplyDpi(int dpi);
    HWND Control(TUpdaterControl control) const;
    // Labels are as wide as their text; the bytes label keeps its right edge.
    void FitLabel(HWND label);
    void DeliverResize();

    std::unique_ptr<TWinHTTPDownload> download_;
    std::unique_ptr<TUnZip> unzip_;
    std::unique_ptr<TUpdateController> controller_;
    HWND window_ = nullptr;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    // Every control's bounds at 96 DPI, as laid out or as the controller set them.
    std::map<HWND, TControlBounds> design_;
    HFONT windowFont_ = nullptr;
    HFONT bytesFont_ = nullptr;
    HBITMAP banner_ = nullptr;
    HBRUSH whiteBrush_ = nullptr;
    // Opaque handles of the queue rows, in list order.
    std::vector<std::unique_ptr<int>> rows_;
    int resizesDelivered_ = 0;
};

// Whether the controller asked the application to end.
bool ApplicationTerminationRequested();
