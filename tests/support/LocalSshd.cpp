#include "tests/support/LocalSshd.h"

#include "tests/support/TestVolumes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <fstream>

extern char** environ;

namespace kelto::test {

namespace fs = std::filesystem;

namespace {

// A port nothing listens on now.
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

}  // namespace

std::unique_ptr<LocalSshd> LocalSshd::start(const fs::path& folder, std::string& whyNot, const fs::path& chroot) {
    const fs::path sshd = "/usr/sbin/sshd";
    if (::geteuid() != 0) {
        whyNot = "needs root";
        return nullptr;
    }
    if (!fs::exists(sshd) || !fs::exists("/usr/bin/sshfs")) {
        whyNot = "sshd or sshfs missing (openssh-server, sshfs)";
        return nullptr;
    }
    fs::create_directories(folder);
    ::mkdir("/run/sshd", 0755);  // sshd's privilege separation wants it
    for (const char* key : {"host", "user"})
        if (runQuietly({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", (folder / key).native()}) != 0) {
            whyNot = "ssh-keygen failed";
            return nullptr;
        }
    fs::copy_file(folder / "user.pub", folder / "authorized_keys", fs::copy_options::overwrite_existing);
    std::ofstream(folder / "sshd_config") << "ListenAddress 127.0.0.1\n"
                                          << "HostKey " << (folder / "host").native() << "\n"
                                          << "AuthorizedKeysFile " << (folder / "authorized_keys").native() << "\n"
                                          << "PermitRootLogin prohibit-password\nStrictModes no\nUsePAM no\n"
                                          << "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                          << "PidFile none\nSubsystem sftp internal-sftp\n";
    if (!chroot.empty())
        std::ofstream(folder / "sshd_config", std::ios::app) << "ChrootDirectory " << chroot.native()
                                                             << "\nForceCommand internal-sftp\n";
    std::unique_ptr<LocalSshd> server(new LocalSshd);
    server->folder_ = folder;
    server->port_ = freePort();
    int pipe[2];
    if (server->port_ == 0 || ::pipe2(pipe, O_CLOEXEC) != 0) {
        whyNot = "no free port";
        return nullptr;
    }
    std::vector<std::string> arguments{sshd.native(), "-D", "-e", "-f", (folder / "sshd_config").native(),
                                       "-p", std::to_string(server->port_)};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    const int started = ::posix_spawn(&server->pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    server->output_ = pipe[0];
    if (started != 0) {
        server->pid_ = -1;
        whyNot = "sshd could not be started";
        return nullptr;
    }
    // Ready once it says it listens; it says why not otherwise, and ends.
    std::string said;
    char buffer[512];
    pollfd readable{server->output_, POLLIN, 0};
    while (said.find("Server listening") == std::string::npos) {
        if (::poll(&readable, 1, 10'000) <= 0) {
            whyNot = "sshd did not start listening: " + said;
            return nullptr;
        }
        const ssize_t got = ::read(server->output_, buffer, sizeof buffer);
        if (got <= 0) {
            whyNot = "sshd ended: " + said;
            return nullptr;
        }
        said.append(buffer, static_cast<std::size_t>(got));
    }
    return server;
}

LocalSshd::~LocalSshd() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
}

std::vector<std::string> LocalSshd::sshfs(const fs::path& folder, const fs::path& at) const {
    return {"sshfs",
            "-p",
            std::to_string(port_),
            "-o",
            "IdentityFile=" + (folder_ / "user").native() +
                ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes",
            "root@127.0.0.1:" + folder.native(),
            at.native()};
}

}  // namespace kelto::test
