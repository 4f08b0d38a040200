#pragma once

#include "support/loopback_socket.h"
#include "support/temp_folder.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

// A tinyproxy (Debian's package) on a loopback port for tests, in the
// foreground with a configuration of its own; stopped, and its folder
// removed, when the object goes. With `basicAuth` it asks for credentials.
class TTinyproxyProcess {
public:
    explicit TTinyproxyProcess(bool basicAuth = false) {
        port_ = FreePort();
        std::ofstream(folder_.path() / "tinyproxy.conf")
            << "Port " << port_ << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 10\n"
            << "LogFile \"" << (folder_.path() / "log").string() << "\"\nLogLevel Info\n"
            << (basicAuth ? "BasicAuth quendal secret\n" : "");
        const std::string start = "cd '" + folder_.str() +
                                  "' && (tinyproxy -d -c tinyproxy.conf > /dev/null 2>&1 & echo $! > pid)";
        if (std::system(start.c_str()) != 0) return;
        pid_ = std::atoi(Read("pid").c_str());
        // Ready once it accepts connections.
        for (int tries = 0; tries < 200 && !ready_; ++tries) {
            ready_ = Accepts();
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~TTinyproxyProcess() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        std::system(("while kill -0 " + std::to_string(pid_) + " 2>/dev/null; do sleep 0.05; done").c_str());
    }
    TTinyproxyProcess(const TTinyproxyProcess&) = delete;
    TTinyproxyProcess& operator=(const TTinyproxyProcess&) = delete;

    bool Running() const { return ready_; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    static int FreePort() {
        loopback_socket::Session session;
        int port = 0;
        const loopback_socket::Socket probe = loopback_socket::ListenOnLoopback(0, port);
        if (probe != loopback_socket::kNone) loopback_socket::Close(probe);
        return port;
    }
    bool Accepts() const {
        const std::string connect = "bash -c 'exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port_) + "' 2>/dev/null";
        return std::system(connect.c_str()) == 0;
    }
    std::string Read(const char* name) const {
        std::ifstream in(folder_.path() / name);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TempFolder folder_{"quendal-proxy"};
    int port_ = 0;
    int pid_ = 0;
    bool ready_ = false;
};
