// The executable's path and running a program (the scenario harness).
#include "platform/backend.h"
#include "platform/posix/system_path.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace pexil::platform::backend {
using posix::SystemPath;

int GetExecutablePath(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    ssize_t length = ::readlink("/proc/self/exe", buffer, static_cast<size_t>(size - 1));
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[length] = '\0';
    return static_cast<int>(length);
}

int RunProcess(const ProcessOptions* options) {
    if (options == nullptr || options->executable == nullptr) return -1;
    const SystemPath program(options->executable);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    if (options->arguments != nullptr) {
        for (const char* const* arg = options->arguments; *arg != nullptr; ++arg) {
            argv.push_back(const_cast<char*>(*arg));
        }
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string out, err, dir;
    if (options->stdoutPath != nullptr) {
        out = SystemPath(options->stdoutPath).str();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    if (options->stderrPath != nullptr) {
        err = SystemPath(options->stderrPath).str();
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    if (options->workingDirectory != nullptr) {
        dir = SystemPath(options->workingDirectory).str();
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    }
    pid_t pid = 0;
    int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

const char* GetEnvironmentVariable(const char* name) {
    if (name == nullptr) return nullptr;
        // In a set-user-ID or set-group-ID program (or one with file
        // capabilities) the environment belongs to whoever started it, who must
        // not steer the program: no variable is read there.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 17))
    return ::secure_getenv(name);
#else
    if (::getuid() != ::geteuid() || ::getgid() != ::getegid()) return nullptr;
    return ::getenv(name);
#endif
}

}  // namespace pexil::platform
