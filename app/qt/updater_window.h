#pragma once

#include <QWidget>

#include <memory>
#include <string>

#include "app/core/download_retry.h"
#include "app/core/updater_view.h"

class QFrame;
class QGroupBox;
class QLabel;
class QProgressBar;
class QTreeWidget;
class TAutoSizeLabel;
class TGauge;
class TGlyphButton;
class TUnZip;
class TUpdateController;
class TWinHTTPDownload;

// The updater's one window. It lays out the controls, hosts the download and
// extraction components and hands every notification to the workflow controller, which
// drives the controls back through TUpdaterView.
class TfrmUpdater : public QWidget, public TUpdaterView {
    Q_OBJECT
public:
    // Creating the window runs the controller's creation step; showing it
    // delivers the first resize, which starts the update run.
    // An empty key: updates are installed unsigned.
    TfrmUpdater(const std::string& updateUrl, const std::string& programFolder, const std::string& publicKeyPem = {},
                TRetryPolicy retryPolicy = TRetryPolicy::None());
    ~TfrmUpdater() override;

    void setVisible(bool visible) override;

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
    QFrame* Bevel1;
    QWidget* Panel2;
    QLabel* Image1;
    QWidget* pnlRight;
    TAutoSizeLabel* labDown;
    TAutoSizeLabel* lblBytes;
    QLabel* lbNum;
    QFrame* Bevel2;
    QTreeWidget* DownList;
    QProgressBar* pBar;
    QGroupBox* labUnzip;
    TGauge* Gauge1;
    TGauge* Gauge2;
    TAutoSizeLabel* lbState;
    TGlyphButton* btnCancel;
    TGlyphButton* btnRedown;
    TGlyphButton* btnClose;

    TWinHTTPDownload& WinHTTPDownload() { return *download_; }
    TUnZip& UnZip1() { return *unzip_; }
    TUpdateController& Controller() { return *controller_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    QWidget* Control(TUpdaterControl control) const;
    void DeliverResize();

    std::unique_ptr<TWinHTTPDownload> download_;
    std::unique_ptr<TUnZip> unzip_;
    std::unique_ptr<TUpdateController> controller_;
    bool resizeBeforeShown_ = false;
    const std::string thousandsSeparator_;
};
