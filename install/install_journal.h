#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The list of what a swap moves, written and flushed before the first rename
// so that a run killed half way can be undone or finished at the next start.
// Text, one item a line, paths relative to the program folder with "/":
//
//   quendal-update-journal 1
//   D new/folder        (a folder the swap makes)
//   F some/file.txt     (a file the swap puts in place)
//   end
//   committed           (appended once every file is in place)
//
// A journal without its "end" line was cut off while being written, before
// anything moved.
struct TInstallJournal {
    std::vector<std::string> folders;  // parents before children
    std::vector<std::string> files;
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
