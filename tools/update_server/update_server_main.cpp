// quendal-update-server FILE [ADDRESS [PORT]]
//
// Serves FILE at /HTTP/Quendown/Quendal.zip with its Content-Length, on
// ADDRESS (default 127.0.0.1) and PORT (default 280), until it is stopped.
// The file is read again for every request, so it can be replaced meanwhile.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr const char* kArchivePath = "/HTTP/Quendown/Quendal.zip";

bool ReadFile(const std::string& path, std::string& contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ParsePort(const char* text, int& port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    int port = 280;
    if (argc < 2 || argc > 4 || (argc == 4 && !ParsePort(argv[3], port))) {
        std::fprintf(stderr, "usage: quendal-update-server FILE [ADDRESS [PORT]]\n");
        return 2;
    }
    const std::string file = argv[1];
    const std::string address = argc >= 3 ? argv[2] : "127.0.0.1";

    std::string probe;
    if (!ReadFile(file, probe)) {
        std::fprintf(stderr, "quendal-update-server: cannot read %s\n", file.c_str());
        return 1;
    }

    httplib::Server server;
    server.Get(kArchivePath, [&file](const httplib::Request&, httplib::Response& response) {
        std::string body;
        if (!ReadFile(file, body)) {
            response.status = 500;
            return;
        }
        response.set_content(body, "application/zip");
    });

    if (!server.bind_to_port(address, port)) {
        std::fprintf(stderr, "quendal-update-server: cannot listen on %s:%d\n", address.c_str(), port);
        return 1;
    }
    std::printf("serving %s at http://%s:%d%s\n", file.c_str(), address.c_str(), port, kArchivePath);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
