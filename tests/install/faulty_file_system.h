#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "install/install_file_system.h"
#include "platform/errors.h"

// The real file operations, except that the k-th operation of one kind
// (rename, flush, write or removal)
// fails (with error code 5) or stops the run as a kill would, and that a
// chosen file can be held as another process would hold it. Sleeps are
// recorded, not slept.
class TFaultyFileSystem : public TInstallFileSystem {
public:
    enum class Kind { None, Move, Flush, Write, Remove };
    enum class Effect { Fail, Kill };
    struct Killed {};
    static constexpr int kErrorCode = 5;

    Kind kind = Kind::None;
    Effect effect = Effect::Fail;
    int at = 0;        // the operation of `kind` that goes wrong, counting from 1
    int seen = 0;      // operations of `kind` so far
    bool hit = false;  // whether the fault happened
    std::string faultedPath;
    std::set<std::string> held;  // paths that cannot be opened for deletion
    std::vector<uint32_t> sleeps;
    std::function<void()> onSleep;

    bool Move(const std::string& from, const std::string& to) override {
        return !Faulted(Kind::Move, to) && TInstallFileSystem::Move(from, to);
    }
    bool FlushFile(const std::string& path) override {
        return !Faulted(Kind::Flush, path) && TInstallFileSystem::FlushFile(path);
    }
    bool FlushFolder(const std::string& folder) override {
        return !Faulted(Kind::Flush, folder) && TInstallFileSystem::FlushFolder(folder);
    }
    bool FlushTree(const std::string& folder) override {
        return !Faulted(Kind::Flush, folder) && TInstallFileSystem::FlushTree(folder);
    }
    bool WriteFile(const std::string& path, const std::string& bytes) override {
        return !Faulted(Kind::Write, path) && TInstallFileSystem::WriteFile(path, bytes);
    }
    bool AppendFile(const std::string& path, const std::string& bytes) override {
        return !Faulted(Kind::Write, path) && TInstallFileSystem::AppendFile(path, bytes);
    }
    bool RemoveFile(const std::string& path) override {
        return !Faulted(Kind::Remove, path) && TInstallFileSystem::RemoveFile(path);
    }
    bool RemoveEmptyFolder(const std::string& folder) override {
        return !Faulted(Kind::Remove, folder) && TInstallFileSystem::RemoveEmptyFolder(folder);
    }
    bool RemoveTree(const std::string& path) override {
        return !Faulted(Kind::Remove, path) && TInstallFileSystem::RemoveTree(path);
    }
    bool CanOpenForDeletion(const std::string& path) override {
        if (held.count(path)) {
            platform::SetLastError(kErrorCode);
            return false;
        }
        return TInstallFileSystem::CanOpenForDeletion(path);
    }
    void Sleep(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep) onSleep();
    }
    int LastError() override { return lastFault_ ? kErrorCode : TInstallFileSystem::LastError(); }

private:
    bool Faulted(Kind operation, const std::string& path) {
        lastFault_ = false;
        if (operation != kind || ++seen != at) return false;
        hit = true;
        faultedPath = path;
        if (effect == Effect::Kill) throw Killed{};
        lastFault_ = true;
        return true;
    }
    bool lastFault_ = false;
};
