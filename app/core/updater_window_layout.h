#pragma once

#include <string_view>

#include "app/core/update_controller.h"
#include "app/core/updater_view.h"

// The updater window as it stands at start, in pixels at 96 DPI. Both windows
// (Qt and native) build their controls from this one table, and their tests
// compare what the windows show with it.
namespace updater_layout {

enum class TWidth {
    Fixed,              // the bounds' width
    FitsText,           // the caption's width in the control's font, left edge fixed
    FitsTextRightEdge,  // the same, with the bounds' left as the fixed right edge
};

struct TControlLayout {
    const char* name;
    const char* parent;  // "window" for the window itself
    TControlBounds bounds;
    TWidth width;
    bool visible;
    bool enabled;
    const char* caption;  // nullptr: the control shows no text
    const char* font;     // the face asked for first; nullptr where there is no text
    int fontPixels;
    bool blue;  // text in blue instead of the window-text colour
};

constexpr const char* kWindowCaption = TUpdateController::kWindowCaption;
constexpr int kClientWidth = 657;
constexpr int kClientHeight = 339;
constexpr const char* kWindowFont = "맑은 고딕";
constexpr int kWindowFontPixels = 13;
// Installed Korean faces that stand in, in this order, where a face of the
// table is missing, so the Hangul glyphs still show.
inline constexpr const char* kKoreanStandIns[] = {"NanumGothic", "NanumBarunGothic"};

inline constexpr TControlLayout kControls[] = {
    {"Bevel1", "window", {227, 0, 2, 339}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"Panel2", "window", {0, 0, 227, 339}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"Image1", "Panel2", {0, 0, 227, 339}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"pnlRight", "window", {229, 0, 428, 339}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"labDown", "pnlRight", {14, 19, 0, 17}, TWidth::FitsText, true, true, TUpdateController::kDownloadingText,
     "맑은 고딕", 13, true},
    {"lblBytes", "pnlRight", {398, 76, 0, 13}, TWidth::FitsTextRightEdge, true, true, "", "MS Sans Serif", 11, true},
    {"lbNum", "pnlRight", {15, -1, 5, 17}, TWidth::Fixed, false, true, "", nullptr, 0, false},
    {"Bevel2", "pnlRight", {12, 257, 352, 2}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"DownList", "pnlRight", {96, 136, 297, 97}, TWidth::Fixed, false, true, nullptr, nullptr, 0, false},
    {"pBar", "pnlRight", {13, 43, 385, 17}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"labUnzip", "pnlRight", {13, 96, 388, 122}, TWidth::Fixed, false, true, "업데이트할 파일을 풀고 있습니다",
     "맑은 고딕", 13, false},
    {"Gauge1", "labUnzip", {18, 30, 352, 17}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"Gauge2", "labUnzip", {18, 81, 352, 17}, TWidth::Fixed, true, true, nullptr, nullptr, 0, false},
    {"lbState", "labUnzip", {18, 58, 0, 17}, TWidth::FitsText, true, true, "전체 진행상태", "맑은 고딕", 13, false},
    {"btnCancel", "pnlRight", {176, 275, 73, 45}, TWidth::Fixed, true, true, "취소", "맑은 고딕", 13, false},
    {"btnRedown", "pnlRight", {256, 275, 73, 45}, TWidth::Fixed, true, false, "재시작", "맑은 고딕", 13, false},
    {"btnClose", "pnlRight", {336, 275, 73, 45}, TWidth::Fixed, true, true, "종료", "맑은 고딕", 13, false},
};

// The control of that name; a name the table lacks does not compile.
consteval const TControlLayout& Control(std::string_view name) {
    for (const TControlLayout& control : kControls)
        if (name == control.name) return control;
    throw "no control of that name in the layout";
}

// Where a control whose width follows its text must stand.
constexpr TControlBounds Placed(const TControlLayout& control, int textWidth) {
    switch (control.width) {
        case TWidth::Fixed: return control.bounds;
        case TWidth::FitsText: return {control.bounds.left, control.bounds.top, textWidth, control.bounds.height};
        case TWidth::FitsTextRightEdge:
            return {control.bounds.left - textWidth, control.bounds.top, textWidth, control.bounds.height};
    }
    return control.bounds;
}

struct TColumnLayout {
    const char* caption;
    int width;  // 0: the list's width less the other columns
};

inline constexpr TColumnLayout kQueueColumns[] = {
    {"다운받을 URL", 0}, {"파일크기", 80}, {"MINE 타입", 70}, {"다운로드 완료", 90}, {"", 20}};

}  // namespace updater_layout
