// The program folder checked before the companion is stopped: a folder the
// updater cannot write gets one elevated run, and otherwise a plain message,
// with the companion still running and nothing downloaded.
#include "app/core/program_folder_access.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/core/process_helpers.h"
#include "app/core/update_controller.h"
#include "archive/unzip.h"
#include "download/download_component.h"
#include "fake_updater_view.h"
#include "platform/file_system.h"
#include "support/temp_folder.h"
#include "waiting_program.h"

namespace {

using C = TUpdaterControl;

class TFakeFolderAccess : public TFolderAccess {
public:
    bool writable = true;
    bool elevationGranted = false;
    std::vector<std::string> checked;
    int elevationRequests = 0;

    bool Writable(const std::string& folder) override {
        checked.push_back(folder);
        return writable;
    }
    bool RestartElevated() override {
        ++elevationRequests;
        return elevationGranted;
    }
};

class ProgramFolderAccessTest : public ::testing::Test {
protected:
    ~ProgramFolderAccessTest() override {
        KillProcessByName(TUpdateController::kCompanionProcess);
        waiting_program::WaitFor([] { return !IsProcessRunning(TUpdateController::kCompanionProcess); });
    }

    TempFolder companionFolder_{"quendal-folder-access-companion"};
};

TEST_F(ProgramFolderAccessTest, AFolderItCannotWriteGetsOneElevatedRunOrTheMessage) {
    struct Case {
        const char* name;
        bool writable;
        bool elevationGranted;
        bool elevatedRun;
        int elevationRequests;
        bool endsForTheElevatedRun;
        bool refused;  // the message, Close only, the companion running, nothing fetched
    };
    const Case cases[] = {
        {"writable", true, false, false, 0, false, false},
        {"elevation granted", false, true, false, 1, true, false},
        {"elevation declined", false, false, false, 1, false, true},
        {"the elevated run still cannot write", false, true, true, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(waiting_program::Start(companionFolder_.str() + "/" + TUpdateController::kCompanionProcess));
        ASSERT_TRUE(waiting_program::WaitFor([] { return IsProcessRunning(TUpdateController::kCompanionProcess); }));
        const TempFolder folder("quendal-folder-access");
        TFakeUpdaterView view;
        TWinHTTPDownload download;
        TUnZip unzip;
        const std::string programFolder = folder.str() + platform::kPathSeparator;
        // Nothing listens on port 1: a run that starts ends at once.
        TUpdateController controller(view, download, unzip, "127.0.0.1:1/Quendal.zip", programFolder);
        TFakeFolderAccess access;
        access.writable = c.writable;
        access.elevationGranted = c.elevationGranted;
        controller.SetFolderAccess(access);
        controller.SetElevatedRun(c.elevatedRun);

        controller.FormCreate();
        controller.FormResize();

        EXPECT_EQ(access.checked, std::vector<std::string>{programFolder});
        EXPECT_EQ(access.elevationRequests, c.elevationRequests);
        EXPECT_EQ(view.terminationRequests, c.endsForTheElevatedRun ? 1 : 0);
        if (c.writable)
            EXPECT_TRUE(waiting_program::WaitFor([] { return !IsProcessRunning(TUpdateController::kCompanionProcess); }));
        else
            EXPECT_TRUE(IsProcessRunning(TUpdateController::kCompanionProcess)) << "the companion was stopped";
        EXPECT_EQ(controller.Started(), c.writable);
        EXPECT_EQ(view.rows.empty(), !c.writable) << "the queue of what to fetch";
        if (c.refused) {
            EXPECT_EQ(view[C::labDown].caption, "프로그램 폴더에 쓸 수 없습니다. 관리자 권한으로 다시 실행하세요.");
            EXPECT_FALSE(view[C::btnCancel].enabled);
            EXPECT_FALSE(view[C::btnRedown].enabled);
            EXPECT_TRUE(view[C::btnClose].enabled);
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 0)
                << "the program folder was changed";
            // Closing still ends the program.
            controller.btnCloseClick();
            EXPECT_EQ(view.terminationRequests, 1);
        } else {
            EXPECT_NE(view[C::labDown].caption, TUpdateController::kFolderNotWritableText);
        }
        KillProcessByName(TUpdateController::kCompanionProcess);
        ASSERT_TRUE(waiting_program::WaitFor([] { return !IsProcessRunning(TUpdateController::kCompanionProcess); }));
    }
}

// The real check: a folder that takes files, and one that is gone.
TEST(FolderWritable, MakesAndRemovesAFileToTell) {
    TempFolder folder("quendal-folder-writable");
    EXPECT_TRUE(platform::FolderWritable(folder.str()));
    EXPECT_TRUE(platform::FolderWritable(folder.str() + platform::kPathSeparator));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 0) << "the probe stayed";
    EXPECT_FALSE(platform::FolderWritable(folder.str() + platform::kPathSeparator + "missing"));
}

}  // namespace
