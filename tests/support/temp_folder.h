#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

// A uniquely named folder under the system's temporary folder, removed with
// everything in it when its owner goes out of scope, whether the test passed
// or failed. Tests that make files use one of these, never a fixed name.
class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "quendal-test")
    {
        namespace fs = std::filesystem;
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (;;) {
            char suffix[17];
            std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
            fs::path candidate = fs::temp_directory_path() / (std::string(prefix) + "-" + suffix);
            if (fs::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
    }
    ~TempFolder() { Remove(); }

    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

private:
    // Tests leave read-only files and folders behind; give the owner write
    // permission back first so that removal never stops half way.
    void Remove() const
    {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
        for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
             it.increment(error)) {
            if (!it->is_symlink(error))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
            error.clear();
        }
        fs::remove_all(path_, error);
    }

    std::filesystem::path path_;
};
