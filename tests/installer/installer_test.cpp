// The Windows Installer package, in a fresh prefix: installed silently per
// user, started from its shortcut, replaced by the next version and
// uninstalled, with the operator's settings.txt kept throughout.
#include "e2e/gui_driver.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <set>

using namespace e2e;

namespace {

// msiexec's exit code.
DWORD msiexec(const std::wstring& exe, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments + L" /qn";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return GetLastError();
    DWORD code = 1;
    WaitForSingleObject(info.hProcess, 300000);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

std::wstring folderOf(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return CharLowerW(path);
}

std::set<std::wstring> filesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
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

// A shortcut's target, arguments and working folder, in lower case.
std::wstring link(const std::wstring& file)
{
    IShellLinkW* shellLink = nullptr;
    IPersistFile* persist = nullptr;
    wchar_t target[MAX_PATH] = L"", arguments[MAX_PATH] = L"", folder[MAX_PATH] = L"";
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shellLink))) &&
        SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
        shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        shellLink->GetArguments(arguments, MAX_PATH);
        shellLink->GetWorkingDirectory(folder, MAX_PATH);
    }
    for (IUnknown* used : {static_cast<IUnknown*>(persist), static_cast<IUnknown*>(shellLink)})
        if (used)
            used->Release();
    return CharLowerW(target) + std::wstring(L"|") + CharLowerW(arguments) + L"|" + CharLowerW(folder);
}

TEST(Installer, InstallStartUpgradeAndUninstallKeepTheOperatorsFiles)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const std::wstring thisRelease = windowsPath(RZ310_THIS_RELEASE), nextRelease = windowsPath(RZ310_NEXT_RELEASE);
    const std::wstring folder = folderOf(CSIDL_LOCAL_APPDATA) + L"\\programs\\rz310 configuration tool";
    const std::wstring menu = folderOf(CSIDL_PROGRAMS) + L"\\RZ310 Configuration Tool\\";
    const std::wstring msi = folderOf(CSIDL_SYSTEM) + L"\\msiexec.exe", settings = folder + L"\\settings.txt";

    const std::wstring installThis = L"/i \"" + windowsPath(RZ310_THIS_MSI) + L"\"";
    ASSERT_EQ(msiexec(msi, installThis), 0u);
    expectRelease(folder, thisRelease);
    const std::wstring in = folder + L"\\";
    EXPECT_EQ(link(menu + L"RZ310 Configuration Tool.lnk"), in + L"rz310_config.exe||" + in);
    EXPECT_EQ(link(menu + L"RZ310 Configuration Manual.lnk"), in + L"rz310 configuration manual.pdf||" + in);
    EXPECT_EQ(link(menu + L"AT Command Manual.lnk"), in + L"at command manual.pdf||" + in);
    EXPECT_EQ(link(menu + L"Uninstall.lnk").substr(0, msi.size() + 5), msi + L"|/x {"); // the product code

    // Started as its shortcut starts it, the tool writes settings.txt beside itself.
    ToolProcess tool;
    ASSERT_TRUE(tool.start(folder + L"\\RZ310_Config.exe", folder));
    PostMessageW(tool.mainWindow(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(tool.waitForExit(30000));
    const std::string saved = readFile(settings);
    ASSERT_NE(saved.find("Port = "), std::string::npos);

    // The next version replaces the programs and keeps the operator's file;
    // the older one cannot come back over it.
    ASSERT_NE(readFile(thisRelease + L"\\RZ310_Config.exe"), readFile(nextRelease + L"\\RZ310_Config.exe"));
    ASSERT_EQ(msiexec(msi, L"/i \"" + windowsPath(RZ310_NEXT_MSI) + L"\""), 0u);
    EXPECT_EQ(readFile(settings), saved);
    EXPECT_EQ(msiexec(msi, installThis), static_cast<DWORD>(ERROR_INSTALL_FAILURE));
    expectRelease(folder, nextRelease, {L"settings.txt"});

    // Uninstalled with the Start menu's "Uninstall" command: "/x {product code}".
    ASSERT_EQ(msiexec(msi, link(menu + L"Uninstall.lnk").substr(msi.size() + 1, 3 + 38)), 0u);
    EXPECT_EQ(filesIn(folder), std::set<std::wstring>{L"settings.txt"});
    EXPECT_EQ(readFile(settings), saved);
    EXPECT_FALSE(fileExists(menu + L"Uninstall.lnk"));
    CoUninitialize();
}

} // namespace
