#include "common/debuglog.h"
#include "common/workdir.h"
#include "common/msgbox.h"

#include <windows.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

int debugFlag = 0;
FILE* debugFile = nullptr;
wchar_t startupDirectory[512] = {};

namespace {

// Guards debugFlag and debugFile together: a line is written whole or not at
// all, and switching off never closes the stream under a write.
SRWLOCK logLock = SRWLOCK_INIT;

constexpr int LINE_SIZE = 1024;

void showOpenError(int err) { showFileError("Debug.txt", true, err); }

// Caller holds logLock.
void writeLine(const char* line)
{
    if (debugFlag == 1 && debugFile)
        fprintf(debugFile, "%s\n", line);
}

} // namespace

int debugLog(const char* format, ...)
{
    char line[LINE_SIZE];
    va_list args;
    va_start(args, format);
    int result = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (result < 0)
        line[0] = '\0';

    AcquireSRWLockExclusive(&logLock);
    writeLine(line);
    ReleaseSRWLockExclusive(&logLock);
    return result;
}

bool toggleDebugLog(bool checked)
{
    if (checked) {
        AcquireSRWLockExclusive(&logLock);
        debugFlag = 0;
        if (debugFile)
            fclose(debugFile);
        debugFile = nullptr;
        ReleaseSRWLockExclusive(&logLock);
        return false;
    }

    std::wstring previous = currentDirectory();
    const bool haveStartup = startupDirectory[0] != L'\0';
    if (haveStartup)
        SetCurrentDirectoryW(startupDirectory);

    // Named with the start-up directory so that the file never lands in some
    // other directory when that one cannot be made current.
    wchar_t path[sizeof startupDirectory / sizeof startupDirectory[0] + 16];
    if (haveStartup) {
        size_t len = wcsnlen(startupDirectory, sizeof startupDirectory / sizeof startupDirectory[0] - 1);
        bool slash = len > 0 && (startupDirectory[len - 1] == L'\\' || startupDirectory[len - 1] == L'/');
        swprintf(path, sizeof path / sizeof path[0], L"%.*ls%lsDebug.txt", static_cast<int>(len), startupDirectory,
                 slash ? L"" : L"\\");
    } else {
        swprintf(path, sizeof path / sizeof path[0], L"Debug.txt");
    }

    FILE* file = nullptr;
    errno_t err = _wfopen_s(&file, path, L"w");
    bool on = false;
    if (err != 0 || !file) {
        showOpenError(err != 0 ? err : EINVAL);
    } else {
        AcquireSRWLockExclusive(&logLock);
        if (debugFile)
            fclose(debugFile);
        debugFile = file;
        debugFlag = 1;
        // Under the same lock, so that no other thread's line comes first.
        writeLine("Setting debugFlag = TRUE");
        ReleaseSRWLockExclusive(&logLock);
        on = true;
    }

    if (!previous.empty())
        SetCurrentDirectoryW(previous.c_str());
    return on;
}
