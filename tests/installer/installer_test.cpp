// The Windows Installer package, in a fresh prefix: installed silently per
// user, started from its shortcut, replaced by the next version and
// uninstalled, with the operator's settings.txt kept throughout.
#include "e2e/gui_driver.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwctype>
#include <set>

using namespace e2e;

namespace {

// Runs a program with arguments and returns its exit code; the seconds it
// took go to the output.
DWORD run(const std::wstring& exe, const std::wstring& arguments, const char* what)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const auto started = std::chrono::steady_clock::now();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return GetLastError();
    WaitForSingleObject(info.hProcess, 300000);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    std::printf("%s: %.1f s\n", what, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return code;
}

std::wstring msiexec()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\msiexec.exe";
}

std::wstring folderOf(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    while (!text.empty() && text.back() == L'\\')
        text.pop_back();
    return text;
}

std::set<std::wstring> filesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The installed folder holds the release's files byte for byte, and `more`.
void expectRelease(const std::wstring& installed, const std::wstring& release, std::set<std::wstring> more = {})
{
    std::set<std::wstring> names = filesIn(release);
    ASSERT_GE(names.size(), 5u);
    for (const std::wstring& name : names)
        EXPECT_EQ(readFile(installed + L"\\" + name), readFile(release + L"\\" + name)) << utf8(name);
    names.insert(more.begin(), more.end());
    EXPECT_EQ(filesIn(installed), names);
}

struct Link {
    std::wstring target, arguments, workDir;
};

Link readLink(const std::wstring& file)
{
    Link link;
    IShellLinkW* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink))))
        return link;
    IPersistFile* persist = nullptr;
    wchar_t text[1024] = L"";
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
            if (shellLink->GetPath(text, 1024, nullptr, SLGP_RAWPATH) == S_OK)
                link.target = text;
            if (SUCCEEDED(shellLink->GetArguments(text, 1024)))
                link.arguments = text;
            if (SUCCEEDED(shellLink->GetWorkingDirectory(text, 1024)))
                link.workDir = text;
        }
        persist->Release();
    }
    shellLink->Release();
    return link;
}

TEST(Installer, InstallStartUpgradeAndUninstallKeepTheOperatorsFiles)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const std::wstring thisRelease = windowsPath(RZ310_THIS_RELEASE), nextRelease = windowsPath(RZ310_NEXT_RELEASE);
    const std::wstring folder = folderOf(CSIDL_LOCAL_APPDATA) + L"\\Programs\\RZ310 Configuration Tool";
    const std::wstring menu = folderOf(CSIDL_PROGRAMS) + L"\\RZ310 Configuration Tool\\";
    const std::wstring settings = folder + L"\\settings.txt";

    ASSERT_EQ(run(msiexec(), L"/i \"" + windowsPath(RZ310_THIS_MSI) + L"\" /qn", "install"), 0u);
    expectRelease(folder, thisRelease);
    const std::pair<const wchar_t*, const wchar_t*> documents[] = {
        {L"RZ310 Configuration Tool", L"RZ310_Config.exe"},
        {L"RZ310 Configuration Manual", L"RZ310 Configuration Manual.pdf"},
        {L"AT Command Manual", L"AT Command Manual.pdf"}};
    for (const auto& [name, file] : documents) {
        Link link = readLink(menu + name + L".lnk");
        EXPECT_EQ(lower(link.target), lower(folder + L"\\" + file)) << utf8(name);
        EXPECT_EQ(lower(link.workDir), lower(folder)) << utf8(name);
    }
    const Link uninstall = readLink(menu + L"Uninstall.lnk");
    EXPECT_EQ(lower(uninstall.target), lower(msiexec()));
    EXPECT_EQ(uninstall.arguments.substr(0, 4), L"/x {");

    // Started as its shortcut starts it, the tool writes settings.txt beside itself.
    const Link tool = readLink(menu + L"RZ310 Configuration Tool.lnk");
    ToolProcess process;
    ASSERT_TRUE(process.start(tool.target, tool.workDir));
    PostMessageW(process.mainWindow(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(process.waitForExit(30000));
    const std::string saved = readFile(settings);
    ASSERT_NE(saved.find("Port = "), std::string::npos);

    // The next version replaces the programs and keeps the operator's file;
    // the older one cannot come back over it.
    ASSERT_NE(readFile(thisRelease + L"\\RZ310_Config.exe"), readFile(nextRelease + L"\\RZ310_Config.exe"));
    ASSERT_EQ(run(msiexec(), L"/i \"" + windowsPath(RZ310_NEXT_MSI) + L"\" /qn", "upgrade"), 0u);
    expectRelease(folder, nextRelease, {L"settings.txt"});
    EXPECT_EQ(readFile(settings), saved);
    EXPECT_EQ(run(msiexec(), L"/i \"" + windowsPath(RZ310_THIS_MSI) + L"\" /qn", "older over newer"),
              static_cast<DWORD>(ERROR_INSTALL_FAILURE));
    expectRelease(folder, nextRelease, {L"settings.txt"});

    // Uninstall with the command of the Start menu's "Uninstall".
    const Link next = readLink(menu + L"Uninstall.lnk");
    ASSERT_EQ(run(next.target, next.arguments + L" /qn", "uninstall"), 0u);
    EXPECT_EQ(filesIn(folder), std::set<std::wstring>{L"settings.txt"});
    EXPECT_EQ(readFile(settings), saved);
    EXPECT_FALSE(fileExists(menu + L"Uninstall.lnk"));
    CoUninitialize();
}

}  // namespace
