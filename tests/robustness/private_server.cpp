#include "tests/robustness/private_server.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vindelor::test {
namespace {

// Runs "private_pulse.sh <command>"; its own words go to a log in the server's folder, so that
// a test watching the terminal sees nothing of them.
void control(const char* command) {
    const std::string log = PrivateServer::folder() + "/control.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::string bash = "bash";
    std::string script = VINDELOR_PRIVATE_PULSE_SCRIPT;
    std::string word = command;
    char* argv[] = {bash.data(), script.data(), word.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "bash", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::ifstream said(log);
        std::stringstream text;
        text << said.rdbuf();
        throw std::runtime_error(std::string("private_pulse.sh ") + command +
                                 " failed: " + text.str());
    }
}

}  // namespace

bool PrivateServer::available() {
    return std::getenv("PRIVATE_PULSE_DIR") != nullptr;
}

std::string PrivateServer::folder() {
    const char* folder = std::getenv("PRIVATE_PULSE_DIR");
    return folder != nullptr ? folder : "";
}

void PrivateServer::stop() {
    control("stop");
}

void PrivateServer::start() {
    control("start");
}

}  // namespace vindelor::test
