#pragma once

#include "support/temp_folder.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

// An HTTPS server on a loopback port for tests (Linux: it runs python3's
// ssl module), with a certificate authority and a server certificate for
// 127.0.0.1 made by the openssl tool when it starts. Paths it answers:
//   /file         200 with the body "secure file"
//   /to-https     302 to its own /file
//   /to?URL       302 to URL
// The server process and the folder go when the object goes. An expired
// server certificate is signed as on a day of 2020 (faketime), valid for two
// days then.
class TTlsTestServer {
public:
    enum class Certificate { Current, Expired };

    explicit TTlsTestServer(Certificate certificate = Certificate::Current) {
        const std::string dir = folder_.str();
        const std::string signedOn = certificate == Certificate::Expired ? "faketime '2020-01-01 00:00:00' " : "";
        const std::string make =
            "cd '" + dir + "' && "
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem "
            "-days 2 -subj /CN=QuendalTestCA && "
            "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr "
            "-subj /CN=127.0.0.1 && "
            "printf 'subjectAltName=IP:127.0.0.1\\n' > ext && " +
            signedOn + "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
            "-extfile ext";
        if (std::system((make + " > /dev/null 2>&1").c_str()) != 0) return;
        std::ofstream(folder_.path() / "serve.py") << kScript;
        const std::string start = "cd '" + dir + "' && (python3 serve.py > port 2> log & echo $! > pid)";
        if (std::system(start.c_str()) != 0) return;
        pid_ = std::atoi(Read("pid").c_str());
        for (int tries = 0; tries < 200 && port_ == 0; ++tries) {
            port_ = std::atoi(Read("port").c_str());
            if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~TTlsTestServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            std::system(("while kill -0 " + std::to_string(pid_) + " 2>/dev/null; do sleep 0.05; done").c_str());
        }
    }
    TTlsTestServer(const TTlsTestServer&) = delete;
    TTlsTestServer& operator=(const TTlsTestServer&) = delete;

    bool Running() const { return port_ != 0; }
    std::string Url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port_) + path; }
    std::string CaFile() const { return (folder_.path() / "ca.pem").string(); }

private:
    std::string Read(const char* name) const {
        std::ifstream in(folder_.path() / name);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static constexpr const char* kScript = R"(import http.server, ssl, sys, urllib.parse
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path, _, query = self.path.partition("?")
        if path == "/file":
            body = b"secure file"
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        target = "/file" if path == "/to-https" else urllib.parse.unquote(query)
        self.send_response(302)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain("server.pem", "server.key")
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
)";

    TempFolder folder_{"quendal-tls"};
    int pid_ = 0;
    int port_ = 0;
};
