#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The list of what a swap moves, written and flushed before the first rename
// so that a run killed half way can be undone or finished at the next start.
// Text, one item a line, paths relative to the program folder with "/":
//
//   quendal-update-journal 2
//   X old/file          (an old file or link taken away: one the release drops,
//                        or one standing where the release puts a folder)
//   P old/folder        (an old folder removed once emptied, children first)
//   D new/folder        (a folder the swap makes, parents first)
//   R some/file.txt     (a file put in place over an old version)
//   F other/file.txt    (a file put in place where nothing stood)
//   end
//   committed           (appended once every file is in place)
//
// Every old file the swap takes away (X and R) goes to the backup first, so
// that recovery restores from the backup alone and never moves a file the
// swap had not reached. A journal without its "end" line was cut off while
// being written, before anything moved. Version 1 journals (F lines only,
// without knowing whether an old version stood there) are still read.
struct TInstallJournal {
    enum class FileKind {
        New,        // F: nothing stood there
        Replacing,  // R: an old version went to the backup
        Unknown,    // a version 1 journal's F
    };
    struct File {
        std::string path;
        FileKind kind = FileKind::New;
        bool operator==(const File&) const = default;
    };

    std::vector<std::string> removed;
    std::vector<std::string> prunedFolders;  // children before parents
    std::vector<std::string> folders;        // parents before children
    std::vector<File> files;
    bool committed = false;

    std::string Text() const;  // without the commit line
    static constexpr const char* kCommitLine = "committed\n";
    // A journal lists every file of an update; one larger than this was not
    // written by the updater and is not read.
    static constexpr size_t kMaxBytes = 64 * 1024 * 1024;

    enum class ReadResult { Complete, CutOff, Damaged };
    // Reads a journal; a damaged one (a line of no known form, a path that
    // would lead out of the program folder or into the updater's own
    // folder) is refused as a whole.
    static ReadResult Parse(const std::string& text, TInstallJournal& journal);

    // A relative path that stays inside the program folder and outside the
    // updater's own folder: no empty, "." or ".." part, no root, no drive,
    // and on Windows no "\" or ":" (which would name another stream).
    static bool IsSafeRelativePath(const std::string& path);
};
