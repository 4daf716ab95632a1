// The AT Command box as a command line: Enter sends, Up and Down recall the
// commands sent from it, newest first, as a terminal does.
#pragma once
#include "framework/wnd.h"
#include <cstddef>
#include <deque>
#include <string>

class CommandHistory {
public:
    static constexpr size_t LIMIT = 20;

    // A command sent, as typed: kept newest first, a repeat of the newest
    // (in any case) once, the oldest dropped past the limit. Browsing starts
    // over.
    void add(const std::wstring& command);
    // Up, from `shown` (the box's text): the next older command; false when
    // there is none. When the box still shows the newest, Up goes past it.
    bool older(std::wstring& shown);
    // Down: the next newer command, or what the box held before browsing
    // began; false when not browsing.
    bool newer(std::wstring& shown);

private:
    std::deque<std::wstring> entries_;
    int position_ = -1; // -1: not browsing
    std::wstring draft_;
};

class CCommandLineEdit : public CEdit {
public:
    // Enter clicks the parent's button `sendButton`.
    explicit CCommandLineEdit(int sendButton) : sendButton_(sendButton) {}
    void remember(const std::wstring& command) { history_.add(command); }

protected:
    void OnAttached() override { SubclassWindow(); }
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void recall(bool older);

    int sendButton_;
    CommandHistory history_;
};
