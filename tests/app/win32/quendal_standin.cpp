// A stand-in for the updated program: it records, beside itself, its version,
// the folder it was started in and its arguments, one per line, and ends.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

}  // namespace

int main(int argc, char** argv) {
    wchar_t self[MAX_PATH];
    wchar_t folder[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    const std::filesystem::path here = std::filesystem::path(self).parent_path();
    {
        std::ofstream record(here / "started.tmp", std::ios::binary);
        record << "Quendal " QUENDAL_VERSION "\n" << Utf8(folder) << "\n";
        for (int i = 1; i < argc; ++i) record << argv[i] << "\n";
    }
    // Whoever waits for the record sees it whole.
    std::filesystem::rename(here / "started.tmp", here / "started.txt");
    return 0;
}
