// Switches the diagnostic log on into a temporary start-up directory and
// hands back the lines written meanwhile.
#pragma once
#include "common/debuglog.h"

#include <windows.h>
#include <algorithm>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

// The lines of a text file without their line ends; a half-written last line is marked.
inline std::vector<std::string> readTextLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path.c_str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(in.eof() ? line + "<unterminated>" : line);
    return lines;
}

class TraceCapture {
public:
    TraceCapture()
    {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static int serial = 0;
        dir_ = base + (L"rz310_trace_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++serial));
        CreateDirectoryW(dir_.c_str(), nullptr);
        wcsncpy(savedStartup_, startupDirectory, 511);
        wcsncpy(startupDirectory, dir_.c_str(), 511);
        toggleDebugLog(true); // a new, empty Debug.txt even if the trace was on
        on_ = toggleDebugLog(false);
    }
    ~TraceCapture()
    {
        lines();
        DeleteFileW(file().c_str());
        RemoveDirectoryW(dir_.c_str());
        wcsncpy(startupDirectory, savedStartup_, 511);
    }

    const std::wstring& dir() const { return dir_; }
    std::wstring file() const { return dir_ + L"\\Debug.txt"; }

    // Ends the capture (once); the first line, which says the trace is on, is left out.
    const std::vector<std::string>& lines()
    {
        if (on_) {
            on_ = false;
            toggleDebugLog(true);
            lines_ = readTextLines(file());
            if (!lines_.empty())
                lines_.erase(lines_.begin());
        }
        return lines_;
    }

    bool contains(const std::string& line) { return count(line) > 0; }
    size_t count(const std::string& line) { return std::count(lines().begin(), lines().end(), line); }
    size_t countPrefix(const std::string& prefix)
    {
        return std::count_if(lines().begin(), lines().end(),
                             [&](const std::string& l) { return l.compare(0, prefix.size(), prefix) == 0; });
    }

private:
    std::wstring dir_;
    wchar_t savedStartup_[512] = {};
    bool on_ = false;
    std::vector<std::string> lines_;
};
