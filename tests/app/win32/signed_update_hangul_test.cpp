// A signed update on Windows in a program folder named in Hangul, where many
// Korean users' programs live: the release manifest, signed with the second
// of two keys the updater knows, is verified, the archive installed and the
// release recorded there; the same release again fetches nothing, and one
// below the highest installed is refused. The archive, its manifest, the
// signature and the keys are made beforehand (tests/fixtures/signed-update/):
// the openssl tool cannot run under Wine.

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

TEST(SignedUpdateInHangulFolder, IsVerifiedInstalledAndRecorded) {
    const TempFolder root("quendal-hangul-update");
    const fs::path program = root / fs::path(u8"홍길동") / fs::path(u8"퀸달");
    InstallOldProgram(program);
    TArchiveServer server(ReadAll(kFixtures / "Quendal.zip"), 0, TServing::Whole,
                          TServedFile{ReadAll(kFixtures / "Quendal.zip.manifest")},
                          TServedFile{ReadAll(kFixtures / "Quendal.zip.manifest.sig")});
    const fs::path state = program / ".quendal-update" / "state.ini";
    // One run of a fresh window against the server.
    TFakeUpdaterView view;
    const auto run = [&] {
        view = TFakeUpdaterView();
        TWinHTTPDownload download;
        TUnZip unzip;
        TUpdateController controller(view, download, unzip, server.UpdateUrl(), Utf8(program) + "\\",
                                     ReadAll(kFixtures / "public.pem"));
        controller.FormCreate();
        controller.FormResize();
    };
    {
        SCOPED_TRACE("1.1.0 installed");
        run();
        EXPECT_EQ(view.Captions(C::labDown), std::vector<std::string>{"Quendal.zip을 다운받았습니다."});
        EXPECT_EQ(view[C::labUnzip].caption, "압축을 풀었습니다. 설치를 진행합니다.");
        // The archive brings no program: the installed one is started.
        EXPECT_EQ(AwaitStartRecord(program), "Quendal 1.0\n" + Utf8(fs::current_path()) + "\n");
        fs::remove(StartRecord(program));
        EXPECT_EQ(ReadAll(program / "readme.txt"), "Quendal 1.1\n");
        EXPECT_EQ(ReadAll(program / "data" / "notes.txt"), "새 자료\n");
        EXPECT_FALSE(fs::exists(program / "Quendal.zip"));
        EXPECT_FALSE(fs::exists(program / "Quendal.zip.manifest"));
        EXPECT_FALSE(fs::exists(program / "Quendal.zip.manifest.sig"));
        EXPECT_EQ(ReadAll(state), "[Release]\nVersion=1.1.0\nHighestVersion=1.1.0\n");
        EXPECT_EQ(view.terminationRequests, 1);
        EXPECT_EQ(server.ArchiveRequests(), 1);
    }
    {
        SCOPED_TRACE("1.1.0 again");
        run();
        EXPECT_EQ(view.Captions(C::labDown), std::vector<std::string>{"이미 최신 버전입니다."});
        EXPECT_FALSE(AwaitStartRecord(program).empty());
        fs::remove(StartRecord(program));
        EXPECT_EQ(view.terminationRequests, 1);
        EXPECT_EQ(server.ArchiveRequests(), 1);
    }
    {
        SCOPED_TRACE("below the highest installed");
        WriteFile(state, "[Release]\nVersion=1.1.0\nHighestVersion=1.2\n");
        run();
        EXPECT_EQ(view.Captions(C::labDown), std::vector<std::string>{"설치된 버전보다 오래된 업데이트입니다."});
        EXPECT_EQ(view.terminationRequests, 0);
        EXPECT_EQ(server.ArchiveRequests(), 1);
    }
}

}  // namespace
