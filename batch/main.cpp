// RZ310_Batch: read, program and the production loop, on the tool's engine.
#include "batch/batch.h"
#include "atcommand/atcommand.h"
#include "atcommand/program.h"
#include "common/systemdll.h"
#include "serial/uart.h"
#include "settings/settings.h"
#include "version.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

const char kUsage[] =
    "RZ310_Batch: programs RZ310 adapters from a settings file, one after the other.\n"
    "\n"
    "  RZ310_Batch read --port COMn [--line BAUD,PARITY,STOP,FLOW] [--out FILE]\n"
    "      Reads the adapter's settings and writes them as a settings file\n"
    "      (to standard output without --out).\n"
    "  RZ310_Batch program --port COMn FILE [--line ...]\n"
    "      Programs every setting of FILE that differs, then reads it back.\n"
    "  RZ310_Batch line --port COMn FILE --report REPORT.csv [--count N] [--line ...] [--name PATTERN]\n"
    "      The production loop: program adapter after adapter, one report row each,\n"
    "      until N are done or Ctrl-C.\n"
    "  RZ310_Batch --help | --version\n"
    "\n"
    "  --line     the line settings to try first (default 19200,none,1,on), then\n"
    "             the search of all 120\n"
    "  --name     one name per adapter: the run of # becomes a counter kept in\n"
    "             REPORT.csv.counter (Sensor-#### gives Sensor-0001, Sensor-0002, ...)\n"
    "\n"
    "Examples:\n"
    "  RZ310_Batch read --port COM5 --out adapter.txt\n"
    "  RZ310_Batch program --port COM5 line.txt --line 9600,none,1,off\n"
    "  RZ310_Batch line --port COM5 line.txt --report shipped.csv --name Sensor-####\n"
    "\n"
    "Exit codes: 0 every adapter holds the file, 1 an adapter failed, 2 no adapter\n"
    "answered, 3 the command line, the file or the port cannot be used.\n";

struct Options {
    std::string command, port, file, out, report, name;
    std::string lineText;
    LineSettings line = {19200, PARITY_NONE, 1, 1};
    long count = 0; // 0: until Ctrl-C
    int portNumber = 0;
};

// The one line that says why nothing was sent.
int refuse(const char* format, const char* what, const char* why = "")
{
    errLine(format, what, why);
    return EXIT_BAD_INPUT;
}

bool parseLine(const std::string& text, LineSettings& line)
{
    char parity[8] = {}, flow[4] = {};
    int baud = 0, stop = 0;
    char end = 0;
    if (sscanf(text.c_str(), "%d,%7[a-zA-Z],%d,%3[a-zA-Z]%c", &baud, parity, &stop, flow, &end) != 4)
        return false;
    if (baudRowOfRate(baud) < 0 || (stop != 1 && stop != 2))
        return false;
    int row = -1;
    for (int i = 0; i < PARITY_SETTINGS; ++i)
        if (_stricmp(parity, kParitySettings[i].word) == 0)
            row = i;
    if (row < 0 || (_stricmp(flow, "on") != 0 && _stricmp(flow, "off") != 0))
        return false;
    line = {baud, kParitySettings[row].code, stop, _stricmp(flow, "on") == 0 ? 1 : 0};
    return true;
}

// Exit code 3 with its line, or -1 when the command line is sound.
int parse(int argc, char** argv, Options& o)
{
    if (argc < 2)
        return refuse("No command: read, program or line (RZ310_Batch --help lists them)", "");
    o.command = argv[1];
    if (o.command != "read" && o.command != "program" && o.command != "line")
        return refuse("Unknown command %s (RZ310_Batch --help lists them)", argv[1]);
    std::string* values[] = {&o.port, &o.lineText, &o.out, &o.report, &o.name, nullptr};
    const char* names[] = {"--port", "--line", "--out", "--report", "--name", "--count"};
    std::string countText;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            files.push_back(arg);
            continue;
        }
        int which = -1;
        for (int k = 0; k < 6; ++k)
            if (arg == names[k])
                which = k;
        if (which < 0)
            return refuse("Unknown option %s (RZ310_Batch --help lists them)", arg.c_str());
        if (i + 1 >= argc)
            return refuse("Option %s needs a value", arg.c_str());
        (which == 5 ? countText : *values[which]) = argv[++i];
    }
    bool programs = o.command != "read";
    if (files.size() != (programs ? 1u : 0u))
        return refuse(programs ? "%s needs one settings file" : "%s takes no settings file", o.command.c_str());
    if (programs)
        o.file = files[0];
    if (o.port.empty())
        return refuse("%s needs --port COMn", o.command.c_str());
    char end = 0;
    if (sscanf(o.port.c_str(), "COM%d%c", &o.portNumber, &end) != 1 || o.portNumber < 1 || o.portNumber > 255)
        return refuse("Bad --port %s: a port is COM1 to COM255", o.port.c_str());
    if (!o.lineText.empty() && !parseLine(o.lineText, o.line))
        return refuse("Bad --line %s: BAUD,PARITY,STOP,FLOW as in 9600,none,1,off", o.lineText.c_str());
    if (!countText.empty()) {
        char* stop = nullptr;
        errno = 0;
        o.count = strtol(countText.c_str(), &stop, 10);
        if (errno || *stop || o.count < 1 || !isdigit(static_cast<unsigned char>(countText[0])))
            return refuse("Bad --count %s: a whole number from 1 up", countText.c_str());
    }
    bool loop = o.command == "line";
    if (!loop && (!o.report.empty() || !o.name.empty() || !countText.empty()))
        return refuse("%s takes no --report, --count or --name", o.command.c_str());
    if (o.command != "read" && !o.out.empty())
        return refuse("%s takes no --out", o.command.c_str());
    if (loop && o.report.empty())
        return refuse("%s needs --report REPORT.csv", o.command.c_str());
    if (!o.name.empty()) {
        size_t first = o.name.find('#');
        size_t last = o.name.rfind('#');
        if (o.name.size() > sizeof device.name - 1)
            return refuse("Bad --name %s: names longer than 15 characters do not fit the adapter", o.name.c_str());
        if (first == std::string::npos || o.name.find_first_not_of('#', first) < last)
            return refuse("Bad --name %s: one run of # for the counter", o.name.c_str());
    }
    return -1;
}

// The settings file's lines as key and value.
std::map<std::string, std::string> settingValues()
{
    std::map<std::string, std::string> values;
    const std::string text = adapterSettingsText();
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        size_t eq = line.find(" = ");
        if (!line.empty() && line[0] != '#' && eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 3);
    }
    return values;
}

// Each setting by its key in the settings file.
const char* keyOf(Setting setting)
{
    switch (setting) {
    case Setting::Baud:
        return "Baud";
    case Setting::StopBits:
        return "StopBits";
    case Setting::Parity:
        return "Parity";
    case Setting::Flow:
        return "FlowControl";
    case Setting::Name:
        return "Name";
    case Setting::Pin:
        return "Pin";
    case Setting::RemovePin:
        return "DisablePin";
    case Setting::Echo:
        return "EchoMode";
    case Setting::Escape:
        return "EscapeMode";
    case Setting::Sleep:
        return "AutoPower";
    case Setting::Response:
        return "CommandResponse";
    case Setting::RemoteConfig:
        return "RemoteConfig";
    case Setting::Discoverable:
        return "Discoverable";
    case Setting::AutoConnect:
        return "AutoConnect";
    case Setting::Role:
        return "Role";
    }
    return "";
}

// The settings that programming would send now.
std::vector<Setting> differing(const WantedSettings& wanted)
{
    std::vector<Setting> settings;
    char command[COMMAND_SIZE];
    for (Setting setting : kLoadedSettingsOrder)
        if (settingCommand(wanted, setting, command))
            settings.push_back(setting);
    return settings;
}

std::string text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// Programs the adapter in hand from loadedSettings, reads it back and
// compares once more; prints a line per setting changed and the verdict.
ReportRow programAdapter(const Options& o)
{
    ReportRow row;
    row.port = o.port;
    row.address = text(device.address, sizeof device.address);
    row.firmware = text(device.version, sizeof device.version);
    row.nameBefore = text(device.name, sizeof device.name);
    const WantedSettings wanted = loadedWantedSettings();
    const std::map<std::string, std::string> before = settingValues();
    const std::vector<Setting> toSend = differing(wanted);
    if (!toSend.empty()) {
        programLoadedSettings();
        getDeviceInfo();
    }
    const std::map<std::string, std::string> after = settingValues();
    const std::vector<Setting> left = differing(wanted);
    for (Setting setting : toSend) {
        bool taken = true;
        for (Setting still : left)
            taken = taken && still != setting;
        if (!taken)
            continue;
        ++row.programmed;
        const char* key = keyOf(setting);
        outLine("%s: %s -> %s", key, before.at(key).c_str(), after.at(key).c_str());
    }
    for (Setting still : left)
        row.notTaken += (row.notTaken.empty() ? "" : ", ") + std::string(keyOf(still));
    row.nameAfter = text(device.name, sizeof device.name);
    row.result = left.empty() ? "OK" : "FAILED";
    if (left.empty())
        outLine("OK %s, %d settings programmed", row.address.c_str(), row.programmed);
    else
        outLine("FAILED %s: %s not taken", row.address.c_str(), row.notTaken.c_str());
    return row;
}

int runRead(const Options& o)
{
    if (!host::bringUp(o.line))
        return EXIT_NO_ADAPTER;
    if (!o.out.empty()) {
        if (!writeSettingsFile(o.out.c_str()))
            return refuse("Cannot write %s", o.out.c_str());
        return EXIT_ALL_OK;
    }
    // Text mode: the same line ends as the file the tool writes.
    const std::string settings = adapterSettingsText();
    fwrite(settings.data(), 1, settings.size(), stdout);
    fflush(stdout);
    return EXIT_ALL_OK;
}

int runProgram(const Options& o)
{
    if (!host::bringUp(o.line))
        return EXIT_NO_ADAPTER;
    return programAdapter(o).result == "OK" ? EXIT_ALL_OK : EXIT_FAILED;
}

// The name for the counter's number: the run of # as that many digits.
std::string numbered(const std::string& pattern, long number)
{
    size_t first = pattern.find('#');
    size_t run = pattern.find_first_not_of('#', first);
    size_t digits = (run == std::string::npos ? pattern.size() : run) - first;
    char value[32];
    snprintf(value, sizeof value, "%0*ld", static_cast<int>(digits), number);
    return pattern.substr(0, first) + value + pattern.substr(first + digits);
}

// Waits until the adapter on the port is another one: the one in hand
// stops answering (then any that answers is the next), or one with another
// address answers.
bool nextAdapter(const Options& o, const std::string& last)
{
    host::setQuiet(true);
    for (;;) {
        if (host::stopRequested())
            break;
        if (host::probe()) {
            if (text(device.address, sizeof device.address) != last) {
                getDeviceInfo();
                host::setQuiet(false);
                return true;
            }
            host::pump(300);
            continue;
        }
        // Gone: the next one is brought up from the given line settings.
        while (!host::stopRequested())
            if (host::bringUp(o.line)) {
                host::setQuiet(false);
                return true;
            }
    }
    host::setQuiet(false);
    return false;
}

int runLine(const Options& o, Report& report)
{
    long programmed = 0, failed = 0, already = 0;
    bool inHand = false;
    host::setQuiet(true);
    while (!host::stopRequested() && !(inHand = host::bringUp(o.line))) {
    }
    host::setQuiet(false);
    for (long done = 0; inHand && (o.count == 0 || done < o.count);) {
        const std::string address = text(device.address, sizeof device.address);
        ReportRow row;
        bool isAlready;
        {
            Report::Lock lock(report);
            isAlready = report.hasOk(address);
            if (!isAlready && !o.name.empty()) {
                long number = report.takeNumber();
                std::string name = numbered(o.name, number);
                if (number < 0 || name.size() > sizeof device.name - 1)
                    return refuse(
                        "Cannot take the next name for %s: the counter file cannot be written, or the names no longer fit",
                        o.name.c_str());
                memset(loadedSettings.name, 0, sizeof loadedSettings.name);
                memcpy(loadedSettings.name, name.data(), name.size());
                loadedSettingsPresent |= 1u << KEY_NAME;
            }
        }
        if (isAlready) {
            row.port = o.port;
            row.address = address;
            row.firmware = text(device.version, sizeof device.version);
            row.nameBefore = row.nameAfter = text(device.name, sizeof device.name);
            row.result = "ALREADY";
            outLine("ALREADY %s", address.c_str());
            ++already;
        } else {
            row = programAdapter(o);
            ++(row.result == "OK" ? programmed : failed);
        }
        {
            Report::Lock lock(report);
            if (!report.append(row))
                errLine("Cannot append to %s", o.report.c_str());
        }
        ++done;
        if ((o.count != 0 && done >= o.count) || host::stopRequested())
            break;
        outLine("Next adapter");
        inHand = nextAdapter(o, address);
    }
    outLine("Programmed %ld, failed %ld, already %ld", programmed, failed, already);
    return failed ? EXIT_FAILED : EXIT_ALL_OK;
}

} // namespace

int main(int argc, char** argv)
{
    restrictDllSearch();
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0) {
            fputs(kUsage, stdout);
            return EXIT_ALL_OK;
        }
        if (strcmp(argv[i], "--version") == 0) {
            outLine("RZ310_Batch %s", RZ310_VERSION_TEXT);
            return EXIT_ALL_OK;
        }
    }
    // No box from here on: texts to standard error, questions answered yes.
    if (!host::create())
        return refuse("Cannot create the hidden window", "");
    Options o;
    int bad = parse(argc, argv, o);
    if (bad >= 0)
        return bad;
    // Everything that can be refused is refused before the port is opened.
    if (!o.file.empty()) {
        FILE* probe = fopen(o.file.c_str(), "rb");
        if (!probe)
            return refuse("Cannot read %s: %s", o.file.c_str(), strerror(errno));
        fclose(probe);
        if (readSettingsFile(o.file.c_str()) != 1)
            return refuse("Cannot read %s: %s", o.file.c_str(), "not a settings file");
        if (loadedSettingsPresent == 0)
            return refuse("No setting in %s", o.file.c_str());
    }
    Report report;
    if (!o.report.empty()) {
        std::string why;
        if (!report.open(o.report, why))
            return refuse("Cannot open the report %s: %s", o.report.c_str(), why.c_str());
    }
    wchar_t device[32];
    swprintf(device, 32, L"\\\\.\\COM%d", o.portNumber);
    HANDLE port = CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return refuse("Cannot open %s: %s", o.port.c_str(),
                      error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? "the port is in use"
                                                                                       : "no such port");
    }
    CloseHandle(port);

    uart = Uart{};
    uart.port = o.portNumber;
    uart.baud = o.line.baud;
    uart.parity = o.line.parity;
    uart.stopBits = o.line.stopBits;
    uart.flow = o.line.flow;
    if (openAdapterPort() != 0)
        return refuse("Cannot open %s: %s", o.port.c_str(), "the port cannot be set up");
    int code = o.command == "read" ? runRead(o) : o.command == "program" ? runProgram(o) : runLine(o, report);
    // The log lines still waiting go out before the port closes.
    host::pump(1);
    UartDeinit();
    return code;
}
