// A whole extraction run over a mutated archive: every method the method
// switch knows, enciphered entries with a fixed password, into a folder that
// is emptied after each run. Anything written beside that folder is a finding.

#include "archive/unzip.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::LimitFileSize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TempFolder scratch("quendal-fuzz-extract");
    const fs::path archive = scratch / "input.zip";
    const fs::path target = scratch / "out";
    fuzz_support::WriteWhole(archive, data, size);
    fs::create_directory(target);

    TUnZip unzip;
    unzip.SetFileSpec({"*.*"});
    unzip.SetPasswords({"zipfixtures"});  // the password of the enciphered seeds
    unzip.SetOverwriteMode(omOverwrite);
    unzip.OnGetPassword = [](TObject*, const std::string&, std::string&, bool& tryAgain) { tryAgain = false; };
    unzip.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int32_t) {};
    unzip.SetArchiveFile(archive.string());
    unzip.SetExtractDir(target.string() + "/");
    unzip.ExtractFiles();

    for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path())) {
        if (entry.path() != archive && entry.path() != target) {
            std::fprintf(stderr, "written outside the target folder: %s\n", entry.path().c_str());
            std::abort();
        }
    }
    return 0;
}
