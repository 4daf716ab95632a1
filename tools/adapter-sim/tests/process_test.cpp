// The real program on a real pty: the link, the ready file, the termios
// the tool applies, and the control socket.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Generous bounds for a loaded machine; nothing here measures time.
constexpr int kWaitMs = 10000;

class RunningSim {
public:
    explicit RunningSim(std::vector<std::string> extra) {
        char tmpl[] = "/tmp/adapter-sim-test.XXXXXX";
        dir_ = mkdtemp(tmpl);
        link_ = dir_ + "/com3";
        std::string ready = dir_ + "/ready";
        std::string out = dir_ + "/stdout";
        pid_ = fork();
        if (pid_ == 0) {
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            std::vector<std::string> args = {ADAPTER_SIM_PATH, "--link", link_, "--ready-file", ready};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(ADAPTER_SIM_PATH, argv.data());
            _exit(127);
        }
        for (int waited = 0; waited < kWaitMs && port_ == 0; waited += 20) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                exited_ = true;
                break;
            }
            std::ifstream f(ready);
            f >> port_;
            if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    ~RunningSim() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup of " << dir_;
    }

    int exitStatus() {
        if (!exited_) waitpid(pid_, &status_, 0);
        exited_ = true;
        return status_;
    }

    std::string stdoutText() const {
        std::ifstream f(dir_ + "/stdout");
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
    int port_ = 0;
    std::string dir_;
    std::string link_;
};

int openLikeTheTool(const std::string& path, speed_t speed) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return fd;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag |= CRTSCTS;
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Reads until `want` has arrived or the bound is reached.
std::string readUntil(int fd, const std::string& want) {
    std::string got;
    for (int waited = 0; waited < kWaitMs && got.find(want) == std::string::npos; waited += 50) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            char buf[256];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
        }
    }
    return got;
}

int connectControl(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string request(int fd, const std::string& line) {
    std::string out = line + "\n";
    if (write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "write failed";
    std::string reply = readUntil(fd, "\n");
    return reply.substr(0, reply.find('\n'));
}

TEST(Process, AnswersOnThePtyAndReportsTheToolsSettings) {
    RunningSim sim({"--no-pace"});
    ASSERT_NE(sim.port_, 0) << "no ready file";
    char target[256] = {};
    ASSERT_GT(readlink(sim.link_.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u);

    int tty = openLikeTheTool(sim.link_, B19200);
    ASSERT_GE(tty, 0);
    const char at[] = "AT\r";
    ASSERT_EQ(write(tty, at, 3), 3);
    EXPECT_EQ(readUntil(tty, "\r\nOK\r\n"), "AT\r\r\nOK\r\n");

    int ctl = connectControl(sim.port_);
    ASSERT_GE(ctl, 0);
    EXPECT_EQ(request(ctl, "tty"), "OK baud=19200 stop=1 crtscts=1");
    EXPECT_EQ(request(ctl, "received"), "OK AT\\r");
    // An endless control line is refused, and the channel goes on.
    EXPECT_EQ(request(ctl, std::string(70000, 'x')), "ERR line too long");
    EXPECT_EQ(request(ctl, "ping"), "OK");

    // The tool at the wrong rate is not understood; the bytes are counted.
    close(tty);
    tty = openLikeTheTool(sim.link_, B9600);
    ASSERT_EQ(write(tty, at, 3), 3);
    std::string garbled;
    for (int waited = 0; waited < kWaitMs && garbled.find("garbled=1") == std::string::npos; waited += 20) {
        garbled = request(ctl, "state");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(garbled.find("garbled=1"), std::string::npos);
    EXPECT_EQ(request(ctl, "received"), "OK AT\\r");
    close(tty);

    EXPECT_EQ(request(ctl, "quit"), "OK");
    close(ctl);
    int status = sim.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st {};
    EXPECT_EQ(lstat(sim.link_.c_str(), &st), 0);  // the link is left in place
    std::string line = sim.stdoutText();
    EXPECT_EQ(line, "adapter-sim: pty " + std::string(target) + " link " + sim.link_ + " control 127.0.0.1:" +
                        std::to_string(sim.port_) + "\n");
}

TEST(Process, RefusesBadArguments) {
    RunningSim sim({"--stop", "3"});
    EXPECT_EQ(sim.port_, 0);
    int status = sim.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

TEST(Process, PacedAnswerArrivesWhole) {
    RunningSim sim({"--baud", "1200", "--parity", "e", "--stop", "2", "--flow", "on"});
    ASSERT_NE(sim.port_, 0);
    int tty = openLikeTheTool(sim.link_, B1200);
    ASSERT_GE(tty, 0);
    termios t{};
    tcgetattr(tty, &t);
    t.c_cflag |= CSTOPB;
    tcsetattr(tty, TCSANOW, &t);
    ASSERT_EQ(write(tty, "AT+PAR?\r", 8), 8);
    EXPECT_EQ(readUntil(tty, "OK\r\n"), "AT+PAR?\r\r\nPAR2\r\nOK\r\n");
    close(tty);
}

TEST(Process, CleanExitOnSigterm) {
    RunningSim sim({"--no-pace"});
    ASSERT_NE(sim.port_, 0);
    int tty = openLikeTheTool(sim.link_, B19200);
    ASSERT_GE(tty, 0);
    ASSERT_EQ(write(tty, "AT+VER\r", 7), 7);
    EXPECT_EQ(readUntil(tty, "OK\r\n"), "AT+VER\r\r\nRZ310 F/W V1.0\r\nOK\r\n");
    close(tty);
    kill(sim.pid_, SIGTERM);
    int status = sim.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
