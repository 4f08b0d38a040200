// A file held open by another process without delete sharing, for real:
// the install waits, asks, and installs once the holder lets go, or leaves
// the old files when the user cancels.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "install/faulty_file_system.h"
#include "install/update_transaction.h"
#include "platform/file_replace.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

using test_files::ReadAll;
using test_files::WriteFile;

// The holder process, ended when the object goes, pass or fail.
class TFileHolder {
public:
    explicit TFileHolder(const fs::path& file) {
        std::wstring command = L"\"" QUENDAL_FILE_HOLDER L"\" \"" + file.wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process_)) {
            ::CloseHandle(process_.hThread);
            process_.hThread = nullptr;
        }
    }
    ~TFileHolder() { Release(); }
    TFileHolder(const TFileHolder&) = delete;
    TFileHolder& operator=(const TFileHolder&) = delete;

    void Release() {
        if (!process_.hProcess) return;
        ::TerminateProcess(process_.hProcess, 0);
        ::WaitForSingleObject(process_.hProcess, INFINITE);
        ::CloseHandle(process_.hProcess);
        process_.hProcess = nullptr;
    }

private:
    PROCESS_INFORMATION process_{};
};

TEST(HeldFileTest, TheInstallWaitsAsksAndGoesOnOnlyOnceTheHolderLetsGo) {
    for (const bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "Retry after the holder let go" : "Cancel");
        TempFolder folder{"quendal-held"};
        const std::string program = folder.str() + "\\";
        WriteFile(folder / "Quendal.exe", "old program");
        WriteFile(folder / "data" / "table.bin", "old table");
        TFaultyFileSystem files;  // real operations; the waits are only counted
        TUpdateTransaction transaction(files, program);
        ASSERT_TRUE(transaction.PrepareStage());
        EXPECT_TRUE(::GetFileAttributesW((folder / ".quendal-update").wstring().c_str()) & FILE_ATTRIBUTE_HIDDEN);
        WriteFile(folder / ".quendal-update" / "stage" / "Quendal.exe", "new program");
        WriteFile(folder / ".quendal-update" / "stage" / "data" / "table.bin", "new table");
        const std::string held = program + "data\\table.bin";

        TFileHolder holder(folder / "data" / "table.bin");
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (platform::CanOpenForDeletion(held) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_FALSE(platform::CanOpenForDeletion(held)) << "the holder did not start";
        ASSERT_TRUE(platform::CanOpenForDeletion(program + "Quendal.exe"));

        std::vector<std::string> asked;
        const auto result = transaction.Install([&](const std::string& path) {
            asked.push_back(path);
            if (retry) holder.Release();
            return retry;
        });

        EXPECT_EQ(asked, std::vector<std::string>{held});
        EXPECT_EQ(files.sleeps.size(), 10u);
        EXPECT_EQ(result, retry ? TUpdateTransaction::Result::Installed : TUpdateTransaction::Result::Cancelled);
        EXPECT_EQ(ReadAll(folder / "Quendal.exe"), retry ? "new program" : "old program");
        EXPECT_EQ(ReadAll(folder / "data" / "table.bin"), retry ? "new table" : "old table");
        EXPECT_FALSE(fs::exists(folder / ".quendal-update" / "stage"));
        holder.Release();
    }
}

}  // namespace
