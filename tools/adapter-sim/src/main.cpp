// adapter-sim: an RZ310 on a pseudo-terminal, scripted over a local TCP
// control channel. One poll() loop serves the pty, the control clients and
// the paced output.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "escape.h"
#include "pacer.h"
#include "simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

const Clock::time_point startTime = Clock::now();

double secondsNow() { return std::chrono::duration<double>(Clock::now() - startTime).count(); }
int64_t msNow() { return static_cast<int64_t>(secondsNow() * 1000.0); }

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    int saved = errno;
    char c = 1;
    ssize_t ignored = write(signalPipe[1], &c, 1);
    (void)ignored;
    errno = saved;
}

// Everything goes to stderr with a time stamp; with-sim sends it to a log
// file next to the link.
void trace(const char* what, const std::string& text) {
    std::fprintf(stderr, "[%9.3f] %s %s\n", secondsNow(), what, text.c_str());
    std::fflush(stderr);
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "adapter-sim: %s\n", message.c_str());
    std::exit(2);
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: adapter-sim --link PATH [--control-port N] [--ready-file FILE]\n"
                 "                   [--baud B --parity n|o|e --stop 1|2 --flow on|off] [--no-pace]\n"
                 "                   [--address ADDR] [--exit-with-parent]\n");
    std::exit(2);
}

struct Args {
    std::string link;
    std::string readyFile;
    int controlPort = 0;
    bool exitWithParent = false;
    sim::Options options;
};

Args parseArgs(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--no-pace") {
            a.options.pace = false;
            continue;
        }
        if (opt == "--exit-with-parent") {
            a.exitWithParent = true;
            continue;
        }
        if (opt == "--help" || opt == "-h") usage();
        if (i + 1 >= argc) usage();
        std::string v = argv[++i];
        if (opt == "--link") {
            a.link = v;
        } else if (opt == "--ready-file") {
            a.readyFile = v;
        } else if (opt == "--control-port") {
            char* end = nullptr;
            long port = std::strtol(v.c_str(), &end, 10);
            if (*end || port < 0 || port > 65535) fail("bad --control-port " + v);
            a.controlPort = static_cast<int>(port);
        } else if (opt == "--baud") {
            int baud = std::atoi(v.c_str());
            if (sim::baudRateToCode(baud) < 0) fail("unsupported --baud " + v);
            a.options.line.baud = baud;
        } else if (opt == "--parity") {
            if (v == "n" || v == "none") a.options.line.parity = sim::Parity::None;
            else if (v == "o" || v == "odd") a.options.line.parity = sim::Parity::Odd;
            else if (v == "e" || v == "even") a.options.line.parity = sim::Parity::Even;
            else fail("bad --parity " + v);
        } else if (opt == "--stop") {
            if (v != "1" && v != "2") fail("bad --stop " + v);
            a.options.line.stopBits = v[0] - '0';
        } else if (opt == "--flow") {
            if (v != "on" && v != "off") fail("bad --flow " + v);
            a.options.line.flow = v == "on";
        } else if (opt == "--address") {
            a.options.address = v;
        } else {
            usage();
        }
    }
    if (a.link.empty()) usage();
    return a;
}

int speedToBaud(speed_t s) {
    // clang-format off
    static const struct {
        speed_t speed;
        int baud;
    } table[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
        {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
        {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
        {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    // clang-format on
    for (const auto& e : table)
        if (e.speed == s) return e.baud;
    return 0;
}

// On Linux the termios calls on a pty master act on the slave, so this is
// what the tool applied to its end.
sim::Tty readTty(int master) {
    sim::Tty tty;
    termios t{};
    if (tcgetattr(master, &t) != 0) return tty;
    tty.baud = speedToBaud(cfgetospeed(&t));
    tty.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    tty.crtscts = (t.c_cflag & CRTSCTS) != 0;
    return tty;
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Re-points `link` at `target` in one step, so a tool opening the link
// never finds it missing.
void pointLink(const std::string& link, const std::string& target) {
    std::string tmp = link + ".tmp." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0) fail("symlink " + tmp + ": " + std::strerror(errno));
    if (rename(tmp.c_str(), link.c_str()) != 0) {
        unlink(tmp.c_str());
        fail("rename to " + link + ": " + std::strerror(errno));
    }
}

// The adapter's end of the line: a pty whose slave we hold open too, so
// that it (and the termios the tool set) survive between tool runs and the
// master never sees a hang-up. Both descriptors are -1 while the port is
// gone.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string slaveName;
};

Pty openPty(const std::string& link) {
    Pty p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0)
        fail(std::string("pty: ") + std::strerror(errno));
    char name[128];
    if (ptsname_r(p.master, name, sizeof name) != 0) fail("ptsname failed");
    p.slaveName = name;
    setNonBlocking(p.master);
    p.slave = open(name, O_RDWR | O_NOCTTY);
    if (p.slave < 0) fail(std::string("open ") + name + ": " + std::strerror(errno));
    termios raw{};
    tcgetattr(p.slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(p.slave, TCSANOW, &raw);
    pointLink(link, p.slaveName);
    return p;
}

// As a USB adapter pulled out: the tty goes, and so does its name.
void closePty(Pty& p, const std::string& link) {
    close(p.slave);
    close(p.master);
    p = Pty{};
    unlink(link.c_str());
}

void writeReadyFile(const std::string& path, int port) {
    std::string tmp = path + ".tmp." + std::to_string(getpid());
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) fail("ready file " + tmp + ": " + std::strerror(errno));
    std::fprintf(f, "%d\n", port);
    if (std::fclose(f) != 0 || rename(tmp.c_str(), path.c_str()) != 0)
        fail("ready file " + path + ": " + std::strerror(errno));
}

struct Client {
    int fd;
    std::string in;
    std::string out;
    bool overlong = false;  // dropping the rest of a too long line
};

// A control line longer than this is refused; the client is not trusted
// to send sane lines.
constexpr size_t kMaxControlLine = 65536;

void flushClient(Client& c) {
    while (!c.out.empty()) {
        ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (n < 0 && errno == EINTR) continue;
            c.out.clear();
            return;
        }
        c.out.erase(0, static_cast<size_t>(n));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Args args = parseArgs(argc, argv);
    // A runner killed without cleaning up must not leave us behind.
    if (args.exitWithParent) {
        pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) return 0;
    }

    Pty pty = openPty(args.link);

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) fail(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(args.controlPort));
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        fail("bind 127.0.0.1:" + std::to_string(args.controlPort) + ": " + std::strerror(errno));
    if (listen(listener, 8) != 0) fail(std::string("listen: ") + std::strerror(errno));
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    int port = ntohs(addr.sin_port);
    setNonBlocking(listener);

    if (pipe(signalPipe) != 0) fail("pipe failed");
    setNonBlocking(signalPipe[0]);
    setNonBlocking(signalPipe[1]);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::Simulator simulator(args.options);
    sim::Pacer pacer;
    std::vector<Client> clients;
    bool ptyBlocked = false;

    std::printf("adapter-sim: pty %s link %s control 127.0.0.1:%d\n", pty.slaveName.c_str(), args.link.c_str(), port);
    std::fflush(stdout);
    if (!args.readyFile.empty()) writeReadyFile(args.readyFile, port);

    // The pty follows the model's port; done before a control request is
    // answered, so that the client's next step meets the port as it asked.
    auto followPort = [&] {
        if (!simulator.portPresent() && pty.master >= 0) {
            closePty(pty, args.link);
            pacer.clear();
            ptyBlocked = false;
            trace("pty", "closed, link removed");
        } else if (simulator.portPresent() && pty.master < 0) {
            pty = openPty(args.link);
            trace("pty", pty.slaveName + " behind the link again");
        }
    };

    bool running = true;
    while (running) {
        followPort();
        const int master = pty.master;
        int64_t now = msNow();
        if (now >= simulator.nextDue()) simulator.tick(readTty(master), now);
        if (simulator.takeOutputDropped()) pacer.clear();
        std::deque<sim::Chunk> output = simulator.takeOutput();
        for (const sim::Chunk& c : output) trace(c.secondsPerByte > 0 ? "tx" : "tx-now", sim::escape(c.bytes));
        pacer.push(std::move(output));
        while (!ptyBlocked) {
            std::string bytes = pacer.due(secondsNow());
            if (bytes.empty()) break;
            ssize_t n = write(master, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                ptyBlocked = true;
                break;
            }
            if (n < 0) {
                trace("error", std::string("pty write: ") + std::strerror(errno));
                pacer.clear();
                break;
            }
            pacer.consumed(static_cast<size_t>(n), secondsNow());
            if (static_cast<size_t>(n) < bytes.size()) ptyBlocked = true;
        }
        if (simulator.quitRequested()) break;

        // A full pty waits for POLLOUT, but scheduled reports still fall due.
        double wake = ptyBlocked ? std::numeric_limits<double>::infinity() : pacer.nextDue(secondsNow());
        int64_t due = simulator.nextDue();
        if (due != std::numeric_limits<int64_t>::max()) wake = std::min(wake, due / 1000.0);
        int timeout = -1;
        if (!std::isinf(wake)) {
            double ms = std::ceil((wake - secondsNow()) * 1000.0);
            timeout = ms < 0 ? 0 : static_cast<int>(std::min(ms, 60000.0));
        }

        std::vector<pollfd> fds;
        fds.push_back({signalPipe[0], POLLIN, 0});
        fds.push_back({master, static_cast<short>(POLLIN | (ptyBlocked ? POLLOUT : 0)), 0});
        fds.push_back({listener, POLLIN, 0});
        for (const Client& c : clients)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            fail(std::string("poll: ") + std::strerror(errno));
        }

        if (fds[0].revents) {
            trace("exit", "signal");
            break;
        }
        if (fds[1].revents & POLLOUT) ptyBlocked = false;
        if (fds[1].revents & POLLIN) {
            char buf[4096];
            for (;;) {
                ssize_t n = read(master, buf, sizeof buf);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                sim::Tty tty = readTty(master);
                std::string bytes(buf, static_cast<size_t>(n));
                trace("rx", sim::escape(bytes) + " (tty " + std::to_string(tty.baud) + "/" +
                                std::to_string(tty.stopBits) + "/" + (tty.crtscts ? "rtscts" : "none") + ")");
                simulator.input(bytes, tty, msNow());
            }
        }
        if (fds[2].revents & POLLIN) {
            for (;;) {
                int fd = accept(listener, nullptr, nullptr);
                if (fd < 0) break;
                setNonBlocking(fd);
                clients.push_back(Client{fd, {}, {}, false});
            }
        }
        for (size_t i = 0; i < clients.size() && 3 + i < fds.size(); ++i) {
            Client& c = clients[i];
            short rev = fds[3 + i].revents;
            if (rev & (POLLIN | POLLHUP | POLLERR)) {
                char buf[4096];
                ssize_t n = recv(c.fd, buf, sizeof buf, 0);
                if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
                    close(c.fd);
                    c.fd = -1;
                    continue;
                }
                if (n > 0) c.in.append(buf, static_cast<size_t>(n));
                size_t nl;
                while ((nl = c.in.find('\n')) != std::string::npos) {
                    std::string request = c.in.substr(0, nl);
                    c.in.erase(0, nl + 1);
                    if (c.overlong) {
                        c.overlong = false;
                        c.out += "ERR line too long\n";
                        continue;
                    }
                    std::string reply = simulator.control(request, readTty(pty.master));
                    followPort();
                    trace("ctl", request + " -> " + reply);
                    c.out += reply + "\n";
                    if (simulator.quitRequested()) {
                        running = false;
                        break;
                    }
                }
                if (c.in.size() > kMaxControlLine) {
                    c.in.clear();
                    c.overlong = true;
                }
            }
            flushClient(c);
        }
        for (size_t i = 0; i < clients.size();) {
            if (clients[i].fd < 0) {
                clients.erase(clients.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }

    // Nothing is removed: the link stays where the tool's port mapping
    // expects it.
    for (Client& c : clients) {
        flushClient(c);
        close(c.fd);
    }
    close(listener);
    if (pty.master >= 0) {
        close(pty.slave);
        close(pty.master);
    }
    return 0;
}
