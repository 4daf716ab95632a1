// The report: CSV rows appended whole under a lock on the file, so that
// several jigs may share one; and the name counter beside it.
#include "batch/batch.h"
#include <windows.h>
#include <cstdio>
#include <ctime>

namespace {

const char kHeader[] =
    "Time,Port,Address,Firmware,Name before,Name after,Result,Settings programmed,Settings not taken\r\n";

std::wstring wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

// Local time with its offset from UTC, as ISO 8601 has it.
std::string localTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    DWORD kind = GetTimeZoneInformation(&zone);
    long bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                             : kind == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                             : 0);
    long offset = -bias;
    char text[40];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, offset < 0 ? '-' : '+', labs(offset) / 60, labs(offset) % 60);
    return text;
}

std::string readAll(HANDLE file)
{
    std::string text;
    LARGE_INTEGER start = {};
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    char block[65536];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        text.append(block, got);
    return text;
}

bool writeAll(HANDLE file, const std::string& text)
{
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

} // namespace

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::vector<std::string> csvRecord(const std::string& text, size_t& at)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    while (at < text.size()) {
        char c = text[at++];
        if (quoted) {
            if (c != '"')
                fields.back() += c;
            else if (at < text.size() && text[at] == '"')
                fields.back() += text[at++];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            break;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

bool Report::open(const std::string& path, std::string& why)
{
    path_ = path;
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        why = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? "access denied"
              : error == ERROR_PATH_NOT_FOUND                                  ? "no such folder"
                                                                               : "error " + std::to_string(error);
        return false;
    }
    file_ = file;
    return true;
}

Report::~Report()
{
    if (file_)
        CloseHandle(static_cast<HANDLE>(file_));
}

Report::Lock::Lock(Report& report) : report_(report)
{
    OVERLAPPED whole = {};
    LockFileEx(static_cast<HANDLE>(report_.file_), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
}

Report::Lock::~Lock()
{
    OVERLAPPED whole = {};
    UnlockFileEx(static_cast<HANDLE>(report_.file_), 0, MAXDWORD, MAXDWORD, &whole);
}

bool Report::hasOk(const std::string& address)
{
    const std::string text = readAll(static_cast<HANDLE>(file_));
    size_t at = 0;
    while (at < text.size()) {
        std::vector<std::string> fields = csvRecord(text, at);
        if (fields.size() > 6 && fields[2] == address && fields[6] == "OK")
            return true;
    }
    return false;
}

bool Report::append(const ReportRow& row)
{
    HANDLE file = static_cast<HANDLE>(file_);
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    std::string text = size.QuadPart == 0 ? kHeader : "";
    const std::string fields[] = {localTime(),    row.port,      row.address, row.firmware,
                                  row.nameBefore, row.nameAfter, row.result,  std::to_string(row.programmed),
                                  row.notTaken};
    for (const std::string& field : fields)
        text += (&field == fields ? "" : ",") + csvField(field);
    text += "\r\n";
    LARGE_INTEGER end = {};
    // One write at the end: under the lock no other row can come between.
    return SetFilePointerEx(file, end, nullptr, FILE_END) && writeAll(file, text) && FlushFileBuffers(file);
}

long Report::takeNumber()
{
    const std::string counter = path_ + ".counter";
    long next = 1;
    if (FILE* in = fopen(counter.c_str(), "rb")) {
        if (fscanf(in, "%ld", &next) != 1 || next < 1)
            next = 1;
        fclose(in);
    }
    // Written whole before the number is used: a failed adapter's number is
    // not given out again, not even after a crash.
    const std::string temporary = counter + ".tmp";
    FILE* out = fopen(temporary.c_str(), "wb");
    bool written = out && fprintf(out, "%ld\n", next + 1) > 0;
    written = out && fclose(out) == 0 && written;
    if (!written || !MoveFileExW(wide(temporary).c_str(), wide(counter).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return -1;
    return next;
}
