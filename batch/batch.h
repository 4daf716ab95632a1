// RZ310_Batch: the production line's programmer, a console program on the
// tool's own driver, engine and settings code.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Exit codes.
enum : int { EXIT_ALL_OK = 0, EXIT_FAILED = 1, EXIT_NO_ADAPTER = 2, EXIT_BAD_INPUT = 3 };

// A result line on standard output, written out at once.
void outLine(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// A line on standard error (the engine's log lines and box texts, and ours).
void errLine(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

struct LineSettings {
    int32_t baud;
    int32_t parity; // Win32 parity code
    int32_t stopBits;
    int32_t flow;
};

// The hidden window that stands in for the main window: the engine's
// timers, notifications and boxes.
namespace host {
bool create();
// Ctrl-C or Ctrl-Break was pressed.
bool stopRequested();
// Log lines and box texts are dropped while quiet (probing for a change).
void setQuiet(bool quiet);
// Brings the adapter up as Get Device Info does: one "AT" at `line`, then the
// search of the line settings; on "OK" all settings are read. False when
// the search was exhausted (or Ctrl-C ended the wait).
bool bringUp(const LineSettings& line);
// One quiet "AT" at the port's present line settings; true when answered
// (the adapter is then initialised, its address read).
bool probe();
// The port's device went (a USB adapter pulled out): closes the port and
// opens it again every 2 s until it is back (true) or Ctrl-C (false).
// True at once when the port was not lost.
bool awaitLostPort();
// Handles what is waiting for the window, for about `ms`.
void pump(unsigned ms);
} // namespace host

// The report: one CSV row per adapter, appended under a lock on the file.
struct ReportRow {
    std::string port, address, firmware, nameBefore, nameAfter, result;
    int programmed = 0;
    std::string notTaken;
};

class Report {
public:
    // False with `why` when the file cannot be opened for appending.
    bool open(const std::string& path, std::string& why);
    ~Report();
    // Locks the file for the caller's scope.
    class Lock {
    public:
        explicit Lock(Report& report);
        ~Lock();

    private:
        Report& report_;
    };
    // Under the lock: whether the address has an OK row.
    bool hasOk(const std::string& address);
    // Under the lock: appends the row whole (with the header when the file is new).
    bool append(const ReportRow& row);
    // Under the lock: the next number of the name counter, and counts it used.
    long takeNumber();

private:
    std::string path_;
    void* file_ = nullptr;
};

// The CSV field as spreadsheets read it.
std::string csvField(const std::string& text);
// The fields of one CSV record starting at `at`; `at` moves past it.
std::vector<std::string> csvRecord(const std::string& text, size_t& at);
