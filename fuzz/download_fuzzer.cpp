// The download component's handling of response headers and bodies: every
// request is answered with the fuzzed bytes as they are, from a loopback
// server in this process.
//
// The client follows redirects, so a Location header could lead anywhere:
// every line that names "location" is rewritten to a path on the same server
// (an empty value stays empty).

#include "download/download_component.h"
#include "fuzz_support.h"
#include "raw_response_server.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string KeepRedirectsLocal(const std::string& response) {
    std::string out;
    size_t start = 0;
    while (start < response.size()) {
        size_t end = response.find('\n', start);
        end = end == std::string::npos ? response.size() : end + 1;
        std::string line = response.substr(start, end - start);
        std::string lower;
        for (char c : line) lower += Lower(c);
        if (lower.find("location") != std::string::npos) {
            std::string path;
            const size_t colon = line.find(':');
            for (size_t i = colon == std::string::npos ? line.size() : colon + 1; i < line.size(); ++i)
                if (std::isalnum(static_cast<unsigned char>(line[i]))) path += line[i];
            line = std::string("Location:") + (path.empty() ? "" : " /" + path) + "\r\n";
        }
        out += line;
        start = end;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Straight to the loopback server, never through a proxy.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static RawResponseServer server;
    server.SetResponse(KeepRedirectsLocal(std::string(reinterpret_cast<const char*>(data), size)));

    TWinHTTPDownload download;
    download.SetTimeouts({std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)});
    TDownLoadItem* item = download.DownLoadItems().Add();
    item->SetURL(server.Url("/update.zip"));
    item->SetLocalDir(fuzz_support::Scratch().str());
    download.OnItemDownloadProgress = [](TObject*, TDownLoadItem*, int32_t, int32_t) {};
    try {
        download.Start();
    } catch (const std::exception&) {
        // A local file that cannot be written raises; that is not a finding here.
    }
    std::error_code ignored;
    std::filesystem::remove(item->FullFileName(), ignored);
    return 0;
}
