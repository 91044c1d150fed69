#include "qor/setup/painting.h"

#include "qor/setup/state.h"

#include "qor/error/error.h"
#include "qor/text/text.h"
#include "qor/handle/unique_handle.h"

#include "resource.h"

#include <algorithm>
#include <new>

namespace QorSetup {

namespace {

const wchar_t kFirstLine[] = L"Please wait while the setup extracts the";
const wchar_t kSecondLine[] = L"files needed for the installation.";

// The six bar pieces, loaded for one painting.
struct BarPieces {
  explicit BarPieces(HINSTANCE module) {
    for (int i = 0; i < 6; ++i) {
      bitmaps[i].reset(::LoadBitmapW(module, MAKEINTRESOURCEW(IDB_BAR_EMPTY_BODY + i)));
    }
    BITMAP info;
    if (bitmaps[0] && ::GetObjectW(bitmaps[0].get(), sizeof info, &info) == sizeof info) {
      tileWidth = info.bmWidth;
      tileHeight = info.bmHeight;
    }
  }
  bool complete() const {
    return tileWidth > 0 && std::all_of(std::begin(bitmaps), std::end(bitmaps),
                                        [](const Qor::UniqueGdiObject& b) { return b.valid(); });
  }
  HGDIOBJ get(int id) const { return bitmaps[id - IDB_BAR_EMPTY_BODY].get(); }

  Qor::UniqueGdiObject bitmaps[6];
  int tileWidth = 0;
  int tileHeight = 0;
};

} // namespace

void PaintBackground(HDC dc, const RECT& client, HFONT font) {
  const int height = client.bottom - client.top;
  const COLORREF previousBack = ::GetBkColor(dc);
  for (int y = client.top; y < client.bottom; ++y) {
    double t = static_cast<double>(y - client.top) / height;
    int redGreen = static_cast<int>(185 * t + 250 * (1 - t));
    int blue = static_cast<int>(185 * t + 240 * (1 - t));
    ::SetBkColor(dc, RGB(redGreen, redGreen, blue));
    RECT row = {client.left, y, client.right - client.left, y + 1};
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &row, L"", 0, nullptr);
  }
  ::SetBkColor(dc, previousBack);
  ::SetTextColor(dc, RGB(0, 0, 0));
  ::SetBkMode(dc, TRANSPARENT);
  Qor::SelectObjectScope useFont(dc, font);
  ::TextOutW(dc, 8, 5, kFirstLine, static_cast<int>(wcslen(kFirstLine)));
  ::TextOutW(dc, 8, 21, kSecondLine, static_cast<int>(wcslen(kSecondLine)));
}

void PaintBar(HDC dc, HINSTANCE module, double fraction, HFONT font, int left, int top) {
  Qor::UniqueMemoryDc canvas(::CreateCompatibleDC(dc));
  Qor::UniqueGdiObject canvasBitmap(::CreateCompatibleBitmap(dc, kBarWidth, kBarHeight));
  Qor::UniqueMemoryDc source(::CreateCompatibleDC(dc));
  if (!canvas || !canvasBitmap || !source) {
    return;
  }
  Qor::SelectObjectScope useCanvas(canvas.get(), canvasBitmap.get());

  fraction = std::min(std::max(fraction, 0.0), 1.0);
  const int x = static_cast<int>(fraction * static_cast<double>(kBarWidth));
  // Loaded once and kept, like the font: the bar is repainted about a
  // hundred times while the worker expands the payload.
  static BarPieces* cached = nullptr;
  static HINSTANCE cachedModule = nullptr;
  if (!cached || cachedModule != module || !cached->complete()) {
    delete cached;
    cached = new (std::nothrow) BarPieces(module);
    cachedModule = module;
  }
  if (cached && cached->complete()) {
    const BarPieces& pieces = *cached;
    // Each piece is selected once for all its tiles, not once a tile: a
    // selection asks the window system (under Wine, a round trip to its
    // server), and the bodies are tiled a pixel at a time, so a repaint cost
    // hundreds of them and took the processor from the decoding threads.
    HGDIOBJ selected = pieces.get(IDB_BAR_EMPTY_BODY);
    Qor::SelectObjectScope restoreSource(source.get(), selected);
    auto copy = [&](int id, int destX, int width, int sourceX) {
      HGDIOBJ piece = pieces.get(id);
      if (piece != selected) {
        ::SelectObject(source.get(), piece);
        selected = piece;
      }
      ::BitBlt(canvas.get(), destX, 0, width, pieces.tileHeight, source.get(), sourceX, 0, SRCCOPY);
    };
    const int tile = pieces.tileWidth;
    const int capWidth = 6;
    for (int pos = std::max(x, capWidth); pos < kBarWidth - capWidth; pos += tile) {
      copy(IDB_BAR_EMPTY_BODY, pos, tile, 0);
    }
    copy(IDB_BAR_EMPTY_RIGHT, kBarWidth - capWidth, capWidth, 0);
    if (x < capWidth) {
      copy(IDB_BAR_EMPTY_LEFT, 0, capWidth, 0);
    }
    if (x > 0) {
      int c = x < 10 ? x / 2 : 5;
      copy(IDB_BAR_FILLED_LEFT, 0, c, 0);
      if (c < 5 && x % 2 == 1) {
        ++c;
      }
      copy(IDB_BAR_FILLED_RIGHT, x - c, c, 5 - c);
      for (int pos = c; pos < x - c; pos += tile) {
        copy(IDB_BAR_FILLED_BODY, pos, tile, 0);
      }
    }
  }

  const int percent = static_cast<int>(fraction * 100.0);
  std::wstring text;
  try {
    QorString::Format(text, L"%d %%", percent);
  } catch (QorError::Exception* e) {
    delete e; // a bar without its number is better than no bar
  }
  if (!text.empty()) {
    const int length = static_cast<int>(text.size());
    Qor::SelectObjectScope useFont(canvas.get(), font);
    SIZE extent = {0, 0};
    ::GetTextExtentPoint32W(canvas.get(), text.c_str(), length, &extent);
    ::SetTextColor(canvas.get(), RGB(0, 0, 0));
    ::SetBkMode(canvas.get(), TRANSPARENT);
    ::TextOutW(canvas.get(), (kBarWidth - extent.cx) / 2, (kBarHeight - extent.cy) / 2,
               text.c_str(), length);
  }
  ::BitBlt(dc, left, top, kBarWidth, kBarHeight, canvas.get(), 0, 0, SRCCOPY);
}

void PaintBackground(HWND window, HDC dc) {
  RECT client;
  if (::GetClientRect(window, &client)) {
    PaintBackground(dc, client, Shell().font);
  }
}

void PaintBar(HWND /*window*/, HDC dc) {
  const SetupShell& shell = Shell();
  PaintBar(dc, shell.instance, shell.worker.progress.load(), shell.font, kBarLeft, kBarTop);
}

} // namespace QorSetup
