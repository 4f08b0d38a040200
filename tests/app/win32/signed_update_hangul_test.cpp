// A signed update on Windows in a program folder named in Hangul, where many
// Korean users' programs live: the signature is checked and the archive
// installed there. The archive, its signature and the publisher's key are
// made beforehand (tests/fixtures/signed-update/): the openssl tool cannot
// run under Wine.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/core/update_controller.h"
#include "archive/unzip.h"
#include "app/archive_server.h"
#include "download/download_component.h"
#include "app/fake_updater_view.h"
#include "app/program_folder_files.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;
using C = TUpdaterControl;
using namespace program_folder;

namespace {

const fs::path kFixtures = fs::path(QUENDAL_TEST_FIXTURES) / "signed-update";

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TEST(SignedUpdateInHangulFolder, IsVerifiedAndInstalled) {
    const TempFolder root("quendal-hangul-update");
    const fs::path program = root / fs::path(u8"홍길동") / fs::path(u8"퀸달");
    InstallOldProgram(program);
    TArchiveServer server(ReadAll(kFixtures / "Quendal.zip"), 0, TServing::Whole,
                          TServedFile{ReadAll(kFixtures / "Quendal.zip.sig")});
    TFakeUpdaterView view;
    TWinHTTPDownload download;
    TUnZip unzip;
    TUpdateController controller(view, download, unzip, server.UpdateUrl(), Utf8(program) + "\\",
                                 ReadAll(kFixtures / "public.pem"));
    controller.FormCreate();

    controller.FormResize();

    EXPECT_EQ(view.Captions(C::labDown), std::vector<std::string>{"Quendal.zip을 다운받았습니다."});
    EXPECT_EQ(view[C::labUnzip].caption, "압축을 풀었습니다. 설치를 진행합니다.");
    // The archive brings no program: the installed one is started.
    EXPECT_EQ(AwaitStartRecord(program), "Quendal 1.0\n" + Utf8(fs::current_path()) + "\n");
    EXPECT_EQ(ReadAll(program / "readme.txt"), "Quendal 1.1\n");
    EXPECT_EQ(ReadAll(program / "data" / "notes.txt"), "새 자료\n");
    EXPECT_FALSE(fs::exists(program / "Quendal.zip"));
    EXPECT_FALSE(fs::exists(program / "Quendal.zip.sig"));
    EXPECT_EQ(view.terminationRequests, 1);
}

}  // namespace
