// Switches the diagnostic log on into a temporary start-up directory and
// hands back the lines written meanwhile.
#pragma once
#include "app/debuglog.h"

#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

// The lines of a text file, without their line ends.
inline std::vector<std::string> readTextLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    FILE* f = _wfopen(path.c_str(), L"r");
    if (!f)
        return lines;
    std::string line;
    for (int c; (c = fgetc(f)) != EOF;) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    if (!line.empty())
        lines.push_back(line + "<unterminated>");
    fclose(f);
    return lines;
}

class TraceCapture {
public:
    TraceCapture()
    {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static int serial = 0;
        dir_ = std::wstring(base) + L"rz310_trace_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
               std::to_wstring(++serial);
        CreateDirectoryW(dir_.c_str(), nullptr);
        wcsncpy(savedStartup_, startupDirectory, 511);
        savedStartup_[511] = L'\0';
        wcsncpy(startupDirectory, dir_.c_str(), 511);
        startupDirectory[511] = L'\0';
        if (debugFlag == 1)
            toggleDebugLog(true);
        on_ = toggleDebugLog(false);
    }
    ~TraceCapture()
    {
        stop();
        DeleteFileW((dir_ + L"\\Debug.txt").c_str());
        RemoveDirectoryW(dir_.c_str());
        wcsncpy(startupDirectory, savedStartup_, 512);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    bool on() const { return on_; }

    // Ends the capture (once) and returns every line after the first.
    const std::vector<std::string>& lines()
    {
        stop();
        return lines_;
    }

    bool contains(const std::string& line) { return count(line) > 0; }
    size_t count(const std::string& line)
    {
        size_t n = 0;
        for (const auto& l : lines())
            n += l == line;
        return n;
    }
    size_t countPrefix(const std::string& prefix)
    {
        size_t n = 0;
        for (const auto& l : lines())
            n += l.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

private:
    void stop()
    {
        if (!on_)
            return;
        on_ = false;
        if (debugFlag == 1)
            toggleDebugLog(true);
        lines_ = readTextLines(dir_ + L"\\Debug.txt");
        // The first line only says the trace is on.
        if (!lines_.empty())
            lines_.erase(lines_.begin());
    }

    std::wstring dir_;
    wchar_t savedStartup_[512];
    bool on_ = false;
    std::vector<std::string> lines_;
};
