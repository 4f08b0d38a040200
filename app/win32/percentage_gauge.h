#pragma once

#include <windows.h>

// A horizontal bar with the percentage written across it: a black frame, a
// white inside, the bar in its colour, and the text exclusive-or'ed with
// white over both so it stays readable where it crosses the bar.
class TGauge {
public:
    // Creates the gauge's child window, which lives as long as its parent or this object.
    TGauge(HWND parent, int left, int top, int width, int height, COLORREF barColor);
    ~TGauge();
    TGauge(const TGauge&) = delete;
    TGauge& operator=(const TGauge&) = delete;

    HWND Window() const { return window_; }

    void SetMaxValue(int value);
    void SetProgress(int value);
    int Progress() const { return progress_; }
    int MaxValue() const { return maxValue_; }
    COLORREF ForeColor() const { return foreColor_; }
    int PercentDone() const;
    // Draws the whole gauge onto `target` (its paint handler does the same).
    void Render(HDC target) const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static TGauge* Of(HWND window);
    void SetFont(HFONT font);

    HWND window_ = nullptr;
    HFONT font_ = nullptr;       // as given, for WM_GETFONT
    HFONT textFont_ = nullptr;   // the same without smoothing, owned
    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 0;
    COLORREF foreColor_;
};
