// Developer's trace to Debug.txt, switched from the Debug menu.
#pragma once
#include <cstdio>

extern int debugFlag;   // 1 while the trace is on
extern FILE* debugFile; // Debug.txt while debugFlag is 1
extern wchar_t startupDirectory[512];

// printf-style, one line per call, from any thread; lines over 1023
// characters are cut.
int debugLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;

// The Debug > Enable Debug toggle. `checked` is the menu check mark as it
// stands; returns the check mark to show afterwards.
bool toggleDebugLog(bool checked);
