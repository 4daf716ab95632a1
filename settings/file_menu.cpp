// File menu: "Load Settings File" and "Save Settings File".
#include "settings/settings.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"
#include "common/systemdll.h"
#include "atcommand/atcommand.h"

#include <windows.h>
#include <commdlg.h>
#include <cwchar>

namespace {

constexpr DWORD FILE_NAME_SIZE = 1024;
constexpr DWORD FILE_TITLE_SIZE = 100;

enum class Choice { NONE, CHOSEN, REFUSED };

// Runs the open or save dialog: through the test seam, or from comdlg32.
// Loaded here, not linked: linked, the common dialogs bring the print
// spooler into every start of the tool, the largest single cost between
// process start and the main window under Wine.
BOOL runFileDialog(OPENFILENAMEW& dialog, bool save, unsigned long& error)
{
    if (seams.fileDialog)
        return seams.fileDialog(&dialog, save, &error);
    HMODULE commonDialogs = loadSystemLibrary(L"comdlg32.dll");
    if (!commonDialogs) {
        error = GetLastError();
        return FALSE;
    }
    using ShowFn = BOOL(WINAPI*)(LPOPENFILENAMEW);
    using ErrorFn = DWORD(WINAPI*)();
    auto show = reinterpret_cast<ShowFn>(
        reinterpret_cast<void*>(GetProcAddress(commonDialogs, save ? "GetSaveFileNameW" : "GetOpenFileNameW")));
    auto lastError =
        reinterpret_cast<ErrorFn>(reinterpret_cast<void*>(GetProcAddress(commonDialogs, "CommDlgExtendedError")));
    BOOL chosen = show ? show(&dialog) : FALSE;
    if (!chosen && lastError)
        error = lastError();
    return chosen;
}

// The dialog cuts a title that does not fit its buffer; a cut title names
// another file, so it must match the name part of the full path.
bool titleIsWhole(const OPENFILENAMEW& dialog, const wchar_t* file, const wchar_t* fileTitle)
{
    size_t fileLength = wcslen(file);
    const wchar_t* namePart = dialog.nFileOffset < fileLength ? file + dialog.nFileOffset : L"";
    if (fileTitle[0] != L'\0' && wcscmp(fileTitle, namePart) == 0)
        return true;
    debugLog("File name of %u characters does not fit the %u character title buffer",
             static_cast<unsigned>(wcslen(namePart)), static_cast<unsigned>(FILE_TITLE_SIZE - 1));
    return false;
}

// The title is opened from the current directory. The dialog leaves it at
// the folder it was showing, which is not the file's folder when the
// operator typed a path to another one.
bool makeFolderCurrent(const OPENFILENAMEW& dialog, const wchar_t* file)
{
    wchar_t folder[FILE_NAME_SIZE];
    wcsncpy(folder, file, dialog.nFileOffset);
    folder[dialog.nFileOffset] = L'\0';
    if (folder[0] == L'\0' || SetCurrentDirectoryW(folder))
        return true;
    debugLog("Cannot make the folder of the chosen file current. Error %lu", GetLastError());
    return false;
}

// Names that do not fit the 8-bit buffer, or hold characters the ANSI code
// page cannot write back unchanged, would open some other file.
bool ansiTitle(const wchar_t* fileTitle, char (&title)[FILE_TITLE_SIZE])
{
    int converted = WideCharToMultiByte(CP_ACP, 0, fileTitle, -1, title, FILE_TITLE_SIZE, nullptr, nullptr);
    wchar_t back[FILE_TITLE_SIZE];
    int restored = converted > 0 ? MultiByteToWideChar(CP_ACP, 0, title, -1, back, FILE_TITLE_SIZE) : 0;
    if (restored != 0 && wcscmp(back, fileTitle) == 0)
        return true;
    title[0] = '\0';
    debugLog("File name cannot be written in the ANSI code page within %u bytes",
             static_cast<unsigned>(FILE_TITLE_SIZE - 1));
    return false;
}

// Shows the open or save dialog and hands back the chosen file's name
// without its folder, in 8-bit text, with the file's folder made current so
// that the bare name opens it.
Choice chooseFile(bool save, char (&title)[FILE_TITLE_SIZE])
{
    wchar_t file[FILE_NAME_SIZE] = L"";
    wchar_t fileTitle[FILE_TITLE_SIZE] = L"";

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = mainHwnd;
    dialog.lpstrFilter = L"Text Files\0 *.txt\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = FILE_NAME_SIZE;
    dialog.lpstrFileTitle = fileTitle;
    dialog.nMaxFileTitle = FILE_TITLE_SIZE;
    dialog.lpstrInitialDir = nullptr;
    dialog.lpstrTitle = save ? L"Save settings file as..." : L"Select settings file";
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    dialog.lpstrDefExt = save ? L".txt" : nullptr;

    unsigned long error = 0;
    if (!runFileDialog(dialog, save, error)) {
        debugLog("GetOpenFileName returned error %d", static_cast<int>(error));
        return Choice::NONE;
    }
    file[FILE_NAME_SIZE - 1] = L'\0';
    fileTitle[FILE_TITLE_SIZE - 1] = L'\0';
    if (!titleIsWhole(dialog, file, fileTitle) || !makeFolderCurrent(dialog, file) || !ansiTitle(fileTitle, title))
        return Choice::REFUSED;
    return Choice::CHOSEN;
}

// Load and Save wait for an initialised adapter; otherwise the refusal is shown.
bool adapterReady(const char* refusal)
{
    if (device.isDeviceInitialised != 0)
        return true;
    showMessageBoxA(refusal);
    return false;
}

} // namespace

void loadSettingsFile()
{
    if (!adapterReady("Local Device is not initialised. Please initialise the device and then load settings."))
        return;
    char title[FILE_TITLE_SIZE];
    Choice choice = chooseFile(false, title);
    if (choice == Choice::NONE)
        return;
    if (choice == Choice::CHOSEN && readSettingsFile(title) == 1) {
        programLoadedSettings();
        return;
    }
    showMessageBoxA("Failed to load file");
}

void saveSettingsFile()
{
    if (!adapterReady("Local Device is not initialised. Please initialise the device and then save settings."))
        return;
    char title[FILE_TITLE_SIZE];
    Choice choice = chooseFile(true, title);
    if (choice == Choice::NONE)
        return;
    if (choice == Choice::CHOSEN && writeSettingsFile(title) == 1)
        return;
    showMessageBoxA("Failed to save file");
}
