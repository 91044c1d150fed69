#include "qor/setup/painting.h"

#include "qor/setup/layout.h"
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

// The six bar pieces as the resources hold them, drawn for 96 DPI, and the
// set in use: at another DPI, copies stretched to the bar's height and to
// the layout's cap and end widths (the bodies keep their width and are
// tiled), made once for each DPI. The copies take the pixels nearest, never
// blends, so the bar stays as sharp as the text beside it.
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
  // Makes the set for the layout current, with bitmaps compatible with dc;
  // false when the copies cannot be made.
  bool Use(HDC dc, const Layout& layout) {
    if (layout.dpi == kDesignDpi) {
      dpi = kDesignDpi;
      height = tileHeight;
      return true;
    }
    if (dpi == layout.dpi) {
      return true;
    }
    dpi = 0;
    Qor::UniqueMemoryDc from(::CreateCompatibleDC(dc));
    Qor::UniqueMemoryDc to(::CreateCompatibleDC(dc));
    if (!from || !to) {
      return false;
    }
    ::SetStretchBltMode(to.get(), COLORONCOLOR);
    for (int i = 0; i < 6; ++i) {
      BITMAP info;
      if (::GetObjectW(bitmaps[i].get(), sizeof info, &info) != sizeof info) {
        return false;
      }
      const int id = IDB_BAR_EMPTY_BODY + i;
      int width = info.bmWidth; // the bodies: tiled
      if (id == IDB_BAR_EMPTY_LEFT || id == IDB_BAR_EMPTY_RIGHT) {
        width = layout.capWidth;
      } else if (id == IDB_BAR_FILLED_LEFT || id == IDB_BAR_FILLED_RIGHT) {
        width = layout.endWidth;
      }
      scaled[i].reset(::CreateCompatibleBitmap(dc, width, layout.barHeight));
      if (!scaled[i]) {
        return false;
      }
      Qor::SelectObjectScope source(from.get(), bitmaps[i].get());
      Qor::SelectObjectScope target(to.get(), scaled[i].get());
      ::StretchBlt(to.get(), 0, 0, width, layout.barHeight, from.get(), 0, 0, info.bmWidth,
                   info.bmHeight, SRCCOPY);
    }
    dpi = layout.dpi;
    height = layout.barHeight;
    return true;
  }
  HGDIOBJ get(int id) const {
    const int i = id - IDB_BAR_EMPTY_BODY;
    return dpi == kDesignDpi ? bitmaps[i].get() : scaled[i].get();
  }

  Qor::UniqueGdiObject bitmaps[6];
  Qor::UniqueGdiObject scaled[6];
  int tileWidth = 0;
  int tileHeight = 0;
  int dpi = 0;    // of the set in use
  int height = 0; // of the pieces of that set
};

} // namespace

void PaintBackground(HDC dc, const RECT& client, HFONT font, const Layout& layout) {
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
  ::TextOutW(dc, layout.textLeft, layout.firstLineTop, kFirstLine,
             static_cast<int>(wcslen(kFirstLine)));
  ::TextOutW(dc, layout.textLeft, layout.secondLineTop, kSecondLine,
             static_cast<int>(wcslen(kSecondLine)));
}

void PaintBar(HDC dc, HINSTANCE module, double fraction, HFONT font, const Layout& layout) {
  const int width = layout.barWidth;
  const int height = layout.barHeight;
  Qor::UniqueMemoryDc canvas(::CreateCompatibleDC(dc));
  Qor::UniqueGdiObject canvasBitmap(::CreateCompatibleBitmap(dc, width, height));
  Qor::UniqueMemoryDc source(::CreateCompatibleDC(dc));
  if (!canvas || !canvasBitmap || !source) {
    return;
  }
  Qor::SelectObjectScope useCanvas(canvas.get(), canvasBitmap.get());

  fraction = std::min(std::max(fraction, 0.0), 1.0);
  const int x = static_cast<int>(fraction * static_cast<double>(width));
  // Loaded once and kept, like the font: the bar is repainted about a
  // hundred times while the worker expands the payload.
  static BarPieces* cached = nullptr;
  static HINSTANCE cachedModule = nullptr;
  if (!cached || cachedModule != module || !cached->complete()) {
    delete cached;
    cached = new (std::nothrow) BarPieces(module);
    cachedModule = module;
  }
  if (cached && cached->complete() && cached->Use(dc, layout)) {
    const BarPieces& pieces = *cached;
    // Each piece is selected once for all its tiles, not once a tile: a
    // selection asks the window system (under Wine, a round trip to its
    // server), and the bodies are tiled a pixel at a time, so a repaint cost
    // hundreds of them and took the processor from the decoding threads.
    HGDIOBJ selected = pieces.get(IDB_BAR_EMPTY_BODY);
    Qor::SelectObjectScope restoreSource(source.get(), selected);
    auto copy = [&](int id, int destX, int columns, int sourceX) {
      HGDIOBJ piece = pieces.get(id);
      if (piece != selected) {
        ::SelectObject(source.get(), piece);
        selected = piece;
      }
      ::BitBlt(canvas.get(), destX, 0, columns, pieces.height, source.get(), sourceX, 0, SRCCOPY);
    };
    const int tile = pieces.tileWidth;
    const int capWidth = layout.capWidth;
    const int endWidth = layout.endWidth;
    for (int pos = std::max(x, capWidth); pos < width - capWidth; pos += tile) {
      copy(IDB_BAR_EMPTY_BODY, pos, tile, 0);
    }
    copy(IDB_BAR_EMPTY_RIGHT, width - capWidth, capWidth, 0);
    if (x < capWidth) {
      copy(IDB_BAR_EMPTY_LEFT, 0, capWidth, 0);
    }
    if (x > 0) {
      // Shorter than both ends: each gets half, the right end the odd column.
      int c = x < 2 * endWidth ? x / 2 : endWidth;
      copy(IDB_BAR_FILLED_LEFT, 0, c, 0);
      if (c < endWidth && x % 2 == 1) {
        ++c;
      }
      copy(IDB_BAR_FILLED_RIGHT, x - c, c, endWidth - c);
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
    ::TextOutW(canvas.get(), (width - extent.cx) / 2, (height - extent.cy) / 2, text.c_str(),
               length);
  }
  ::BitBlt(dc, layout.barLeft, layout.barTop, width, height, canvas.get(), 0, 0, SRCCOPY);
}

void PaintBackground(HWND window, HDC dc) {
  RECT client;
  if (::GetClientRect(window, &client)) {
    const SetupShell& shell = Shell();
    PaintBackground(dc, client, shell.font, LayoutForDpi(shell.dpi));
  }
}

void PaintBar(HWND /*window*/, HDC dc) {
  const SetupShell& shell = Shell();
  PaintBar(dc, shell.instance, shell.worker.progress.load(), shell.font, LayoutForDpi(shell.dpi));
}

} // namespace QorSetup
