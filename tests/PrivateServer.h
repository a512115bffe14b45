#pragma once

// A Firebird server of a test's own on loopback, started and stopped by the project's server
// script.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace sorvanto::test {

// A Firebird server of its own, started by the project's server script (in SORVANTO_SCRIPTS_DIR)
// in a folder.
class PrivateServer {
public:
    explicit PrivateServer(std::string dir) : dir_(std::move(dir)) {}
    ~PrivateServer() { Run("stop"); }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    bool Start() {
        if (!Run("start"))
            return false;
        std::ifstream env(dir_ + "/env");
        std::string line;
        while (std::getline(env, line)) {
            if (line.rfind("SORVANTO_TEST_SERVER_PORT=", 0) == 0)
                port = line.substr(line.find('=') + 1);
            if (line.rfind("SORVANTO_TEST_SERVER_PASSWORD=", 0) == 0)
                password = line.substr(line.find('=') + 1);
        }
        return !port.empty();
    }
    // Kills the server process outright and waits until it is gone; false when there was none.
    bool Kill() {
        std::ifstream file(dir_ + "/server.pid");
        pid_t pid = 0;
        file >> pid;
        if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
            return false;
        while (std::filesystem::exists("/proc/" + std::to_string(pid)) && !ProcessIsZombie(pid))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return true;
    }
    std::string Database(const std::string& path) const { return "localhost/" + port + ":" + path; }

    std::string port;
    std::string password;

private:
    static bool ProcessIsZombie(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string field;
        stat >> field >> field >> field; // pid, (name), state
        return field == "Z";
    }
    bool Run(const char* action) {
        std::string command = std::string("bash '") + SORVANTO_SCRIPTS_DIR + "/test-server.sh' " +
                              action + " '" + dir_ + "' >'" + dir_ + "." + action + ".log' 2>&1";
        return std::system(command.c_str()) == 0;
    }
    std::string dir_;
};

} // namespace sorvanto::test
