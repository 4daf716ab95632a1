#include "panels/command_line.h"

#include <commctrl.h>
#include <cwctype>

namespace {

// Commands go out in upper case, whatever was typed.
bool sameCommand(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (towupper(a[i]) != towupper(b[i]))
            return false;
    return true;
}

} // namespace

void CommandHistory::add(const std::wstring& command)
{
    position_ = -1;
    if (command.empty() || (!entries_.empty() && sameCommand(entries_.front(), command)))
        return;
    entries_.push_front(command);
    if (entries_.size() > LIMIT)
        entries_.pop_back();
}

bool CommandHistory::older(std::wstring& shown)
{
    if (position_ < 0) {
        draft_ = shown;
        // The box keeps the command it has just sent.
        position_ = !entries_.empty() && sameCommand(entries_.front(), shown) ? 0 : -1;
    }
    if (position_ + 1 >= static_cast<int>(entries_.size()))
        return false;
    shown = entries_[static_cast<size_t>(++position_)];
    return true;
}

bool CommandHistory::newer(std::wstring& shown)
{
    if (position_ < 0)
        return false;
    --position_;
    shown = position_ < 0 ? draft_ : entries_[static_cast<size_t>(position_)];
    return true;
}

void CCommandLineEdit::recall(bool older)
{
    std::wstring shown = GetWindowTextW();
    if (!(older ? history_.older(shown) : history_.newer(shown)))
        return;
    SetWindowTextW(shown.c_str());
    const int end = static_cast<int>(shown.size());
    SetSel(end, end);
}

LRESULT CCommandLineEdit::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    switch (msg) {
    case WM_GETDLGCODE: {
        // Enter is the box's own: the dialog would take it for its default
        // button and end the tool.
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) {
            handled = true;
            return DefSubclassProc(m_hWnd, msg, wParam, lParam) | DLGC_WANTALLKEYS;
        }
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            handled = true;
            HWND parent = GetParent(m_hWnd);
            ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(sendButton_, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(parent, sendButton_)));
        } else if (wParam == VK_UP || wParam == VK_DOWN) {
            handled = true;
            recall(wParam == VK_UP);
        }
        break;
    case WM_CHAR:
        // The Enter that has been acted on; a single-line box would beep.
        handled = wParam == L'\r' || wParam == L'\n';
        break;
    default:
        break;
    }
    return 0;
}
