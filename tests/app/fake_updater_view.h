#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/core/updater_view.h"
#include "platform/message_pump.h"

// A window stand-in that keeps the state the controller gave each control and
// a log of what it did, in order. Pumping runs the test's `onPump`.
class TFakeUpdaterView : public TUpdaterView {
public:
    struct Control {
        std::string caption;
        bool visible = true;
        bool enabled = true;
        int maximum = 100;
        int position = 0;
        TControlBounds bounds;
    };

    TFakeUpdaterView() {
        controls[TUpdaterControl::lblBytes].caption = "";
        controls[TUpdaterControl::labDown].caption = "설치 파일을 다운받고 있습니다";
        controls[TUpdaterControl::labUnzip].visible = false;
        controls[TUpdaterControl::btnRedown].enabled = false;
        controls[TUpdaterControl::btnCancel].bounds = {176, 275, 73, 45};
        controls[TUpdaterControl::pnlRight].bounds = {229, 0, 428, 339};
        controls[TUpdaterControl::Bevel2].bounds = {12, 257, 352, 2};
        platform::SetMessagePump([this] {
            log.push_back("pump");
            if (onPump) onPump();
        });
    }
    ~TFakeUpdaterView() override { platform::SetMessagePump(nullptr); }

    void SetWindowCaption(const std::string& text) override { windowCaption = text; }
    void SetCaption(TUpdaterControl control, const std::string& text) override {
        controls[control].caption = text;
        log.push_back(Name(control) + "=" + text);
    }
    void SetVisible(TUpdaterControl control, bool visible) override { controls[control].visible = visible; }
    void SetEnabled(TUpdaterControl control, bool enabled) override { controls[control].enabled = enabled; }
    void Repaint(TUpdaterControl control) override { log.push_back("repaint " + Name(control)); }
    void SetMaximum(TUpdaterControl control, int maximum) override { controls[control].maximum = maximum; }
    void SetPosition(TUpdaterControl control, int position) override {
        controls[control].position = position;
        if (control == TUpdaterControl::pBar) ++progressEvents;
    }
    TControlBounds Bounds(TUpdaterControl control) const override { return controls.at(control).bounds; }
    void SetBounds(TUpdaterControl control, const TControlBounds& bounds) override {
        controls[control].bounds = bounds;
    }
    void* AddQueueRow(const std::string& caption) override {
        rows.push_back(caption);
        return reinterpret_cast<void*>(rows.size());
    }
    int QueueRowCount() const override { return static_cast<int>(rows.size()); }
    void* QueueRow(int index) const override { return reinterpret_cast<void*>(static_cast<size_t>(index) + 1); }
    std::string QueueRowCaption(int index) const override { return rows.at(index); }
    std::string ThousandsSeparator() const override { return ","; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    // Answers with the test's `onAskRetry`, Cancel without one.
    bool AskRetry(const std::string& text) override {
        questions.push_back(text);
        return onAskRetry && onAskRetry(text);
    }
    void RequestTermination() override { ++terminationRequests; }

    const Control& operator[](TUpdaterControl control) { return controls[control]; }

    // Captions given to one control, in order.
    std::vector<std::string> Captions(TUpdaterControl control) const {
        std::vector<std::string> result;
        const std::string prefix = Name(control) + "=";
        for (const std::string& entry : log)
            if (entry.rfind(prefix, 0) == 0) result.push_back(entry.substr(prefix.size()));
        return result;
    }

    static std::string Name(TUpdaterControl control) {
        switch (control) {
            case TUpdaterControl::labDown: return "labDown";
            case TUpdaterControl::lblBytes: return "lblBytes";
            case TUpdaterControl::labUnzip: return "labUnzip";
            case TUpdaterControl::pBar: return "pBar";
            case TUpdaterControl::Gauge1: return "Gauge1";
            case TUpdaterControl::Gauge2: return "Gauge2";
            case TUpdaterControl::Bevel2: return "Bevel2";
            case TUpdaterControl::pnlRight: return "pnlRight";
            case TUpdaterControl::btnCancel: return "btnCancel";
            case TUpdaterControl::btnRedown: return "btnRedown";
            case TUpdaterControl::btnClose: return "btnClose";
        }
        return "?";
    }

    std::map<TUpdaterControl, Control> controls;
    std::string windowCaption;
    std::vector<std::string> rows;
    std::vector<std::string> log;
    std::vector<std::string> errors;
    std::vector<std::string> questions;
    std::function<bool(const std::string&)> onAskRetry;
    int terminationRequests = 0;
    int progressEvents = 0;
    std::function<void()> onPump;
};
