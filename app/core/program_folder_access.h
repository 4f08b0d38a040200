#pragma once

#include <string>

// What the updater needs to know of its program folder before it stops the
// companion: whether it can write there, and a way to start again with the
// rights to. The real one asks the platform; tests put a fake in its place.
class TFolderAccess {
public:
    // The argument that marks the run started with administrator rights.
    static constexpr const char* kElevatedArgument = "--elevated";

    virtual ~TFolderAccess() = default;
    virtual bool Writable(const std::string& folder);
    // Starts the updater again with administrator rights; false when the
    // user declined or the system cannot.
    virtual bool RestartElevated();
};

enum class TFolderCheck {
    Writable,           // go on
    RestartedElevated,  // this run ends; the elevated one takes over
    NotWritable,        // say so, and change nothing
};

// A folder that cannot be written gets one elevated run of the updater; a
// run that is the elevated one already, or whose elevation was declined, is
// told the folder cannot be written.
TFolderCheck CheckProgramFolder(TFolderAccess& access, const std::string& folder, bool elevatedRun);
