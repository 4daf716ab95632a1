// A status light: a static control that shows one 16 x 16 cell of the
// status-light image strip (bitmap 1044) over the dialog's background.
#pragma once
#include "framework/wnd.h"
#include <cstdint>

class CLed : public CStatic {
public:
    CLed();
    ~CLed() override;

    int32_t colorOffset = 0; // strip row: 0 red, 16 green, 32 yellow, 48 blue
    int32_t stateColumn = 1; // strip column: 0 lit, 1 dark, 2 grey
    int32_t shapeOffset = 0; // 0 round, 64 square

    HBITMAP strip() const { return m_strip; }

protected:
    void OnAttached() override;
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    HBITMAP m_strip;
};

// Draws the strip's cell (column stateColumn, row colorOffset + shapeOffset)
// into the light's client area on dc: centred when the light is at least
// 16 x 16, from its top-left corner otherwise; magenta pixels leave what dc
// already shows.
void DrawLed(int32_t stateColumn, const CLed& light, HDC dc, int32_t colorOffset, int32_t shapeOffset);
