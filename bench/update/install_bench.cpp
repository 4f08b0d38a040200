// The install step of an update on its own: the archive extracted into the
// stage of a program folder and swapped in under the journal, as the updater
// does it. Prints the wall time in seconds of the extraction into the stage
// and of the swap (with its clean-up and the flush of the stage before it,
// also given alone); the caller times the whole run and
// its peer (quendal-unzip extracting in place) the same way.
//
// usage: install_bench ARCHIVE PROGRAM_FOLDER

#include <chrono>
#include <cstdio>
#include <string>

#include "archive/unzip.h"
#include "install/install_file_system.h"
#include "install/update_transaction.h"
#include "platform/file_system.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_bench ARCHIVE PROGRAM_FOLDER\n");
        return 2;
    }
    std::string program = argv[2];
    if (program.back() != platform::kPathSeparator) program += platform::kPathSeparator;

    const auto start = std::chrono::steady_clock::now();
    TInstallFileSystem files;
    TUpdateTransaction transaction(files, program);
    if (!transaction.PrepareStage()) return 1;
    TUnZip unzip;
    bool whole = true;
    unzip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t) {
        whole = false;
    };
    unzip.OnEnd = [&](TObject*, const std::string&, bool crcPass) { whole &= crcPass; };
    unzip.SetArchiveFile(argv[1]);
    unzip.SetConfirmOverwrites(false);
    unzip.SetOverwriteMode(omOverwrite);
    unzip.FileSpec().clear();
    unzip.FileSpec().push_back("*.*");
    unzip.SetExtractDir(transaction.Folder().Stage());
    unzip.ExtractFiles();
    if (!whole) {
        std::fprintf(stderr, "an entry did not come out whole\n");
        return 1;
    }
    const auto extracted = std::chrono::steady_clock::now();
    // What putting the staged bytes on the disk before the swap costs, timed
    // apart: the install's own flush then finds nothing left to write.
    if (!files.FlushTree(transaction.Folder().Stage())) {
        std::fprintf(stderr, "the stage could not be flushed\n");
        return 1;
    }
    const std::chrono::duration<double> flush = std::chrono::steady_clock::now() - extracted;
    if (transaction.Install({}) != TUpdateTransaction::Result::Installed) {
        std::fprintf(stderr, "install failed at %s %s\n", transaction.Failure().step.c_str(),
                     transaction.Failure().entry.c_str());
        return 1;
    }
    const std::chrono::duration<double> extraction = extracted - start;
    const std::chrono::duration<double> swap = std::chrono::steady_clock::now() - extracted;
    std::printf("extraction into the stage %.3f s, swap and clean-up %.3f s, of which the stage's flush %.3f s\n",
                extraction.count(), swap.count(), flush.count());
    return 0;
}
