// The real program on a real pty: the link, the ready file, the termios the
// tool applies, the control socket and the line it prints when ready.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

// Generous bound for a loaded machine; nothing here measures time.
constexpr int kWaitMs = 10000;

// Reads until `want` has arrived or the bound has passed.
std::string readUntil(int fd, const std::string& want) {
    std::string got;
    for (int waited = 0; waited < kWaitMs && got.find(want) == std::string::npos; waited += 50) {
        pollfd p{fd, POLLIN, 0};
        char buf[256];
        ssize_t n = poll(&p, 1, 50) > 0 ? read(fd, buf, sizeof buf) : 0;
        if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string request(int fd, const std::string& line) {
    std::string out = line + "\n";
    if (write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "write failed";
    std::string reply = readUntil(fd, "\n");
    return reply.substr(0, reply.find('\n'));
}

std::string readAll(const std::string& path) {
    std::ifstream f(path);
    std::stringstream text;
    text << f.rdbuf();
    return text.str();
}

// Raw, with RTS/CTS, at `speed`: what the tool's serial driver sets.
int openLikeTheTool(const std::string& path, speed_t speed) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        t.c_cflag |= CRTSCTS;
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// The simulator as with-sim starts it: at its default 19200 8N1 with flow
// control, paced. Killed, and its folder removed, at the end of the test.
struct RunningSim {
    std::string dir, link, out;
    pid_t pid = -1;
    int port = 0;

    RunningSim() {
        char folder[] = "/tmp/adapter-sim-test.XXXXXX";
        dir = mkdtemp(folder) ? folder : "/nonexistent";
        link = dir + "/com3";
        out = dir + "/stdout";
        const std::string ready = dir + "/ready";
        pid = fork();
        if (pid == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            execl(ADAPTER_SIM_PATH, ADAPTER_SIM_PATH, "--link", link.c_str(), "--ready-file", ready.c_str(), nullptr);
            _exit(127);
        }
        for (int waited = 0; waited < kWaitMs && port == 0; waited += 20) {
            std::istringstream(readAll(ready)) >> port;
            usleep(20000);
        }
    }
    int exitStatus() {
        int status = -1;
        waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }
    ~RunningSim() {
        if (pid > 0) kill(pid, SIGKILL);
        if (pid > 0) waitpid(pid, nullptr, 0);
        EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    }
};

TEST(Process, AnswersOnThePtyReportsTheToolsSettingsAndQuits) {
    RunningSim sim;
    ASSERT_NE(sim.port, 0) << "no ready file";
    char target[256] = {};
    ASSERT_GT(readlink(sim.link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u);

    int ctl = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(sim.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(ctl, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // An endless control line is refused, and the channel goes on.
    EXPECT_EQ(request(ctl, std::string(70000, 'x')), "ERR line too long");

    // The simulator sees the termios the tool sets on its end, and answers
    // at its own settings only.
    int tty = openLikeTheTool(sim.link, B9600);
    ASSERT_GE(tty, 0);
    EXPECT_EQ(request(ctl, "tty"), "OK baud=9600 stop=1 crtscts=1");
    close(tty);
    tty = openLikeTheTool(sim.link, B19200);
    ASSERT_EQ(write(tty, "AT+VER\r", 7), 7);
    EXPECT_EQ(readUntil(tty, "OK\r\n"), "AT+VER\r\r\nRZ310 F/W V1.0\r\nOK\r\n");
    EXPECT_EQ(request(ctl, "tty"), "OK baud=19200 stop=1 crtscts=1");
    EXPECT_EQ(request(ctl, "received"), "OK AT+VER\\r");
    close(tty);

    EXPECT_EQ(request(ctl, "quit"), "OK");
    close(ctl);
    int status = sim.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readAll(sim.out), "adapter-sim: pty " + std::string(target) + " link " + sim.link +
                                    " control 127.0.0.1:" + std::to_string(sim.port) + "\n");
}

}  // namespace
