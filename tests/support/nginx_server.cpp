#include "tests/support/nginx_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace test_support {

namespace fs = std::filesystem;

namespace {

fs::path nginx_program() {
    if (const char* path = std::getenv("PATH")) {
        std::stringstream folders(path);
        std::string folder;
        while (std::getline(folders, folder, ':'))
            if (!folder.empty() && access((fs::path(folder) / "nginx").c_str(), X_OK) == 0)
                return fs::path(folder) / "nginx";
    }
    for (const char* folder : {"/usr/sbin", "/usr/local/sbin", "/usr/local/nginx/sbin"})
        if (access((fs::path(folder) / "nginx").c_str(), X_OK) == 0)
            return fs::path(folder) / "nginx";
    return {};
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool accepts_connections(int port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    const sockaddr_in address = loopback(port);
    const bool ok = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return ok;
}

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int free_loopback_port() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 0;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

bool NginxServer::installed() {
    return !nginx_program().empty();
}

NginxServer::NginxServer(const fs::path& root) {
    if (!installed()) {
        error_ = "nginx is not installed";
        return;
    }
    char pattern[] = "/tmp/gs-nginx-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        error_ = "no scratch folder";
        return;
    }
    prefix_ = pattern;
    // The port is free when asked for, but another process may take it
    // before nginx binds it: then try another.
    for (int attempt = 0; attempt < 5 && !running(); ++attempt)
        start_at(free_loopback_port(), fs::absolute(root));
}

NginxServer::~NginxServer() {
    stop();
    if (!prefix_.empty()) {
        std::error_code ignored;
        fs::remove_all(prefix_, ignored);
    }
}

bool NginxServer::start_at(int port, const fs::path& root) {
    if (port == 0) {
        error_ = "no free port";
        return false;
    }
    for (const char* folder : {"body", "proxy", "fastcgi", "uwsgi", "scgi"})
        fs::create_directories(prefix_ / "temp" / folder);
    fs::remove(prefix_ / "access.log");
    const fs::path p = prefix_;
    std::ofstream(p / "nginx.conf")
        << "daemon off;\n"
           "master_process off;\n"
           "worker_processes 1;\n"
           "pid "
        << (p / "nginx.pid").string()
        << ";\n"
           "error_log "
        << (p / "error.log").string()
        << " warn;\n"
           "events { worker_connections 256; }\n"
           "http {\n"
           "  default_type application/octet-stream;\n"
           "  log_format requests '$connection $status $request_uri $http_range';\n"
           "  access_log "
        << (p / "access.log").string()
        << " requests;\n"
           "  keepalive_requests 10000000;\n"
           "  keepalive_timeout 300s;\n"
           "  client_body_temp_path "
        << (p / "temp/body").string() << ";\n  proxy_temp_path " << (p / "temp/proxy").string()
        << ";\n  fastcgi_temp_path " << (p / "temp/fastcgi").string() << ";\n  uwsgi_temp_path "
        << (p / "temp/uwsgi").string() << ";\n  scgi_temp_path " << (p / "temp/scgi").string()
        << ";\n"
           "  server {\n"
           "    listen 127.0.0.1:"
        << port << ";\n    root " << root.string()
        << ";\n"
           "  }\n"
           "}\n";

    const std::string program = nginx_program().string();
    const std::string prefix = p.string() + "/";
    const std::string config = (p / "nginx.conf").string();
    const std::string error_log = (p / "error.log").string();
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),   const_cast<char*>("-p"),
                               const_cast<char*>(prefix.c_str()),    const_cast<char*>("-c"),
                               const_cast<char*>(config.c_str()),    const_cast<char*>("-e"),
                               const_cast<char*>(error_log.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = (p / "output.log").string();
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        error_ = "cannot start nginx";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            error_ = "nginx ended at its start: " + read_all(p / "output.log") +
                     read_all(p / "error.log");
            return false;
        }
        if (accepts_connections(port)) {
            pid_ = pid;
            port_ = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    error_ = "nginx did not come up";
    return false;
}

void NginxServer::stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string NginxServer::address(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::string(path);
}

std::vector<NginxServer::Request> NginxServer::requests() const {
    std::vector<Request> out;
    std::istringstream lines(read_all(prefix_ / "access.log"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Request r;
        fields >> r.connection >> r.status >> r.uri;
        std::getline(fields >> std::ws, r.range);
        out.push_back(r);
    }
    return out;
}

}  // namespace test_support
