#include "archive/krv_timer.h"
#include "archive/format/error_codes.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "frame_test_support.h"
#include "testable_unzip.h"
#include "tool_made_fixtures.h"
#include "support/temp_folder.h"

namespace {

// A tick count the test moves by hand.
struct FakeTicks {
    uint32_t now = 1000;
    TkrvTimer::TickSource Source() {
        return [this] { return now; };
    }
};

TEST(KrvTimer, MeasuresRunTimeWithoutPauses) {
    FakeTicks ticks;
    TkrvTimer timer(ticks.Source());
    EXPECT_FALSE(timer.Running());
    timer.Pause();  // idle: nothing happens
    timer.Resume();
    timer.Start();
    EXPECT_EQ(timer.StartTick, 1000u);
    ticks.now += 1500;
    timer.Pause();
    ticks.now += 60000;  // a prompt the user sat on
    timer.Resume();
    ticks.now += 250;
    timer.Stop();
    EXPECT_FLOAT_EQ(timer.ElapsedSeconds, 1.75f);
    EXPECT_EQ(timer.StopTick, ticks.now);
    EXPECT_FALSE(timer.Running());
    timer.Stop();  // idle: keeps the result
    EXPECT_FLOAT_EQ(timer.ElapsedSeconds, 1.75f);
}

TEST(KrvTimer, TickDifferencesWrapModulo32Bits) {
    FakeTicks ticks;
    ticks.now = 0xFFFFFF00u;
    TkrvTimer timer(ticks.Source());
    timer.Start();
    ticks.now += 0x100;  // wraps through 0
    timer.Pause();
    ticks.now += 1000;
    timer.Resume();
    ticks.now += 0x200;
    timer.Stop();
    EXPECT_FLOAT_EQ(timer.ElapsedSeconds, 0.768f);
}

TEST(KrvTimer, NestedPausesCountTheirStretchOnce) {
    FakeTicks ticks;
    TkrvTimer timer(ticks.Source());
    timer.Start();
    ticks.now += 100;
    timer.Pause();  // a password prompt ...
    ticks.now += 5000;
    timer.Pause();  // ... reporting an error inside it
    ticks.now += 7000;
    timer.Resume();
    ticks.now += 3000;
    timer.Resume();
    ticks.now += 400;
    timer.Stop();
    EXPECT_FLOAT_EQ(timer.ElapsedSeconds, 0.5f);
}

TEST(KrvTimer, ErrorReportsPauseTheComponentTimer) {
    FakeTicks ticks;
    TestableUnZip unzip;
    unzip.ElapsedTimer() = TkrvTimer(ticks.Source());
    unzip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t) {
        ticks.now += 9000;  // the handler shows a message box
    };
    unzip.ElapsedTimer().Start();
    ticks.now += 200;
    unzip.ReportError("a.zip", "", "0", ErrorCode::CrcFailed);
    EXPECT_THROW(unzip.RaiseError("a.zip", "", "0", ErrorCode::BadBlock), E_RAISE);
    ticks.now += 300;
    unzip.ElapsedTimer().Stop();
    EXPECT_FLOAT_EQ(unzip.ElapsedTimer().ElapsedSeconds, 0.5f);
}

TEST(KrvTimer, RunTimesItselfOnlyForAnAssignedHandlerAndAlsoWhenItEndsByAnException) {
    using namespace frame_test;
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    TUnZip unzip;
    unzip.SetArchiveFile(ToolMade("a.zip"));
    unzip.SetExtractDir(dir + "out");
    unzip.SetFileSpec({"*.*"});
    bool timerRan = true;
    unzip.OnBegin = [&](TObject*, const std::string&, int32_t, bool&) {
        timerRan = unzip.ElapsedTimer().Running();
        throw std::runtime_error("the handler fails");
    };
    unzip.ExtractFiles();
    EXPECT_FALSE(timerRan);

    int reports = 0;
    float seconds = -1.0f;
    unzip.OnElapsedTime = [&](TObject* sender, float elapsed) {
        EXPECT_EQ(sender, &unzip);
        ++reports;
        seconds = elapsed;
    };
    unzip.ExtractFiles();
    EXPECT_TRUE(timerRan);
    EXPECT_EQ(reports, 1);
    EXPECT_GE(seconds, 0.0f);
    EXPECT_FALSE(unzip.ElapsedTimer().Running());
}

}  // namespace
