#include "app/Led.h"
#include "framework/dialog.h"
#include "res/resource.h"

namespace {
constexpr int CELL = 16;
constexpr COLORREF TRANSPARENT_COLOUR = RGB(255, 0, 255);
} // namespace

CLed::CLed() : m_strip(LoadBitmapW(resourceInstance(), MAKEINTRESOURCEW(IDB_STATUS_LIGHTS))) {}

CLed::~CLed()
{
    Detach();
    if (m_strip)
        DeleteObject(m_strip);
}

void CLed::OnAttached() { SubclassWindow(); }

LRESULT CLed::WindowProc(UINT msg, WPARAM, LPARAM, bool& handled)
{
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(m_hWnd, &ps);
        DrawLed(stateColumn, *this, dc, colorOffset, shapeOffset);
        EndPaint(m_hWnd, &ps);
        handled = true;
        return 0;
    }
    case WM_ERASEBKGND:
        // The dialog's background stays and shows through the magenta.
        handled = true;
        return 1;
    default:
        return 0;
    }
}

void DrawLed(int32_t stateColumn, const CLed& light, HDC dc, int32_t colorOffset, int32_t shapeOffset)
{
    if (!dc || !light.strip())
        return;
    RECT client{};
    GetClientRect(light.m_hWnd, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    int x = client.left;
    int y = client.top;
    if (width >= CELL && height >= CELL) {
        x += (width - CELL) / 2;
        y += (height - CELL) / 2;
    }
    int sourceX = stateColumn * CELL;
    int sourceY = colorOffset + shapeOffset;

    HDC stripDc = CreateCompatibleDC(dc);
    HDC maskDc = CreateCompatibleDC(dc);
    HDC bufferDc = CreateCompatibleDC(dc);
    HBITMAP mask = CreateBitmap(CELL, CELL, 1, 1, nullptr);
    HBITMAP buffer = CreateCompatibleBitmap(dc, CELL, CELL);
    HGDIOBJ oldStrip = SelectObject(stripDc, light.strip());
    HGDIOBJ oldMask = SelectObject(maskDc, mask);
    HGDIOBJ oldBuffer = SelectObject(bufferDc, buffer);

    // What the target shows now.
    BitBlt(bufferDc, 0, 0, CELL, CELL, dc, x, y, SRCCOPY);
    // Mask: 1 where the cell is magenta.
    SetBkColor(stripDc, TRANSPARENT_COLOUR);
    BitBlt(maskDc, 0, 0, CELL, CELL, stripDc, sourceX, sourceY, SRCCOPY);
    // background ^ cell, keep it only under the mask, ^ cell again: the
    // background where the cell is magenta, the cell elsewhere.
    SetBkColor(bufferDc, RGB(255, 255, 255));
    SetTextColor(bufferDc, RGB(0, 0, 0));
    BitBlt(bufferDc, 0, 0, CELL, CELL, stripDc, sourceX, sourceY, SRCINVERT);
    BitBlt(bufferDc, 0, 0, CELL, CELL, maskDc, 0, 0, SRCAND);
    BitBlt(bufferDc, 0, 0, CELL, CELL, stripDc, sourceX, sourceY, SRCINVERT);

    BitBlt(dc, x, y, CELL, CELL, bufferDc, 0, 0, SRCCOPY);

    SelectObject(stripDc, oldStrip);
    SelectObject(maskDc, oldMask);
    SelectObject(bufferDc, oldBuffer);
    DeleteObject(mask);
    DeleteObject(buffer);
    DeleteDC(stripDc);
    DeleteDC(maskDc);
    DeleteDC(bufferDc);
}
