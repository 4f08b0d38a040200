#pragma once

#include <string>

// The controls of the updater window that the workflow controller drives.
enum class TUpdaterControl {
    labDown,
    lblBytes,
    labUnzip,
    pBar,
    Gauge1,
    Gauge2,
    Bevel2,
    pnlRight,
    btnCancel,
    btnRedown,
    btnClose,
};

struct TControlBounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const TControlBounds&) const = default;
};

// What the controller needs of the window (and of the application around it).
// The real window implements it with Qt; tests use a fake. Handles of queue
// rows are opaque: the controller only stores them in the download items.
class TUpdaterView {
public:
    virtual ~TUpdaterView() = default;

    virtual void SetWindowCaption(const std::string& text) = 0;
    virtual void SetCaption(TUpdaterControl control, const std::string& text) = 0;
    virtual void SetVisible(TUpdaterControl control, bool visible) = 0;
    virtual void SetEnabled(TUpdaterControl control, bool enabled) = 0;
    // Redraws the control at once, before the caller goes on.
    virtual void Repaint(TUpdaterControl control) = 0;
    // Progress displays (pBar, Gauge1, Gauge2).
    virtual void SetMaximum(TUpdaterControl control, int maximum) = 0;
    virtual void SetPosition(TUpdaterControl control, int position) = 0;
    virtual TControlBounds Bounds(TUpdaterControl control) const = 0;
    virtual void SetBounds(TUpdaterControl control, const TControlBounds& bounds) = 0;

    // The hidden queue list: one row per URL, caption plus two empty sub-items.
    virtual void* AddQueueRow(const std::string& caption) = 0;
    virtual int QueueRowCount() const = 0;
    virtual void* QueueRow(int index) const = 0;
    virtual std::string QueueRowCaption(int index) const = 0;

    // The user's locale's thousands separator, for the kilobyte figures.
    virtual std::string ThousandsSeparator() const = 0;

    // The error box the framework shows for an error that escaped a handler.
    virtual void ShowError(const std::string& text) = 0;

    // A box with Retry and Cancel; true when the user chose Retry.
    virtual bool AskRetry(const std::string& text) = 0;

    // Asks the application to end once control is back in its main message loop.
    virtual void RequestTermination() = 0;
};
