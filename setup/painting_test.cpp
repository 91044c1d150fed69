// The progress window's painting, into memory device contexts, compared
// pixel by pixel with the bar pieces of the program's resources, at 96 DPI
// and at the larger scales that the layout gives the window; and the window
// following its screen's DPI.
#include "qor/setup/dpi.h"
#include "qor/setup/layout.h"
#include "qor/setup/painting.h"
#include "qor/setup/state.h"
#include "qor/setup/window.h"

#include "qor/handle/unique_handle.h"

#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using QorSetup::kBarHeight;
using QorSetup::kBarWidth;
using QorSetup::Layout;
using QorSetup::LayoutForDpi;

// A screen-compatible canvas whose pixels can be read back.
class Canvas {
public:
  Canvas(int width, int height) {
    Qor::WindowDc screen(nullptr);
    dc_.reset(CreateCompatibleDC(screen.get()));
    bitmap_.reset(CreateCompatibleBitmap(screen.get(), width, height));
    previous_ = SelectObject(dc_.get(), bitmap_.get());
    RECT all = {0, 0, width, height};
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(dc_.get(), &all, magenta);
    DeleteObject(magenta);
  }
  ~Canvas() { SelectObject(dc_.get(), previous_); }
  HDC dc() const { return dc_.get(); }
  COLORREF at(int x, int y) const { return GetPixel(dc_.get(), x, y); }

private:
  Qor::UniqueMemoryDc dc_;
  Qor::UniqueGdiObject bitmap_;
  HGDIOBJ previous_ = nullptr;
};

// A piece of the bar as its own resource bitmap holds it.
class Piece {
public:
  explicit Piece(int id)
      : bitmap_(LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id))),
        dc_(CreateCompatibleDC(nullptr)) {
    previous_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Piece() { SelectObject(dc_.get(), previous_); }
  COLORREF at(int x, int y) const { return GetPixel(dc_.get(), x, y); }
  SIZE size() const {
    BITMAP info = {};
    GetObjectW(bitmap_.get(), sizeof info, &info);
    return {info.bmWidth, info.bmHeight};
  }

private:
  Qor::UniqueGdiObject bitmap_;
  Qor::UniqueMemoryDc dc_;
  HGDIOBJ previous_ = nullptr;
};

// A piece as the bar shows it at a layout's DPI: stretched to the bar's
// height, the caps and ends to their widths, each pixel the piece's nearest
// one (sampled at the pixel's centre, a tie going to the one before), as a
// stretch without blending takes it; the bodies keep their one column. At
// 96 DPI, the piece itself.
class ScaledPiece {
public:
  ScaledPiece(int id, const Layout& layout) : piece_(id), source_(piece_.size()) {
    width_ = source_.cx;
    if (id == IDB_BAR_EMPTY_LEFT || id == IDB_BAR_EMPTY_RIGHT) {
      width_ = layout.capWidth;
    } else if (id == IDB_BAR_FILLED_LEFT || id == IDB_BAR_FILLED_RIGHT) {
      width_ = layout.endWidth;
    }
    height_ = layout.barHeight;
  }
  COLORREF at(int x, int y) const {
    return piece_.at(Nearest(x, width_, source_.cx), Nearest(y, height_, source_.cy));
  }

private:
  static int Nearest(int to, int toLength, int fromLength) {
    return ((2 * to + 1) * fromLength - 1) / (2 * toLength);
  }
  Piece piece_;
  SIZE source_;
  int width_ = 0, height_ = 0;
};

struct Segment {
  int from, to; // bar columns [from, to)
  int piece;
  int sourceColumn; // of the segment's first column, in the piece as the bar shows it
  bool tiled;       // every column from sourceColumn 0 of a one-column piece
};

struct BarCase {
  const char* name;
  int dpi;
  double fraction;
  const wchar_t* percentage;
  std::vector<Segment> segments;
};

std::vector<BarCase> BarCases() {
  return {
      {"empty",
       96,
       0.0,
       L"0 %",
       {{0, 6, IDB_BAR_EMPTY_LEFT, 0, false},
        {6, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      {"full",
       96,
       1.0,
       L"100 %",
       {{0, 5, IDB_BAR_FILLED_LEFT, 0, false},
        {5, 270, IDB_BAR_FILLED_BODY, 0, true},
        {270, 275, IDB_BAR_FILLED_RIGHT, 0, false}}},
      // x = 1: no left end, the right end's last column over the empty cap.
      {"x=1",
       96,
       1.5 / 275,
       L"0 %",
       {{0, 1, IDB_BAR_FILLED_RIGHT, 4, false},
        {1, 6, IDB_BAR_EMPTY_LEFT, 1, false},
        {6, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      // x = 7: three columns of the left end, four of the right end.
      {"x=7",
       96,
       7.5 / 275,
       L"2 %",
       {{0, 3, IDB_BAR_FILLED_LEFT, 0, false},
        {3, 7, IDB_BAR_FILLED_RIGHT, 1, false},
        {7, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      {"x=100",
       96,
       100.5 / 275,
       L"36 %",
       {{0, 5, IDB_BAR_FILLED_LEFT, 0, false},
        {5, 95, IDB_BAR_FILLED_BODY, 0, true},
        {95, 100, IDB_BAR_FILLED_RIGHT, 0, false},
        {100, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      // 150 %: the bar is 413 x 30, the caps 9 wide, the filled ends 8.
      {"144 DPI empty",
       144,
       0.0,
       L"0 %",
       {{0, 9, IDB_BAR_EMPTY_LEFT, 0, false},
        {9, 404, IDB_BAR_EMPTY_BODY, 0, true},
        {404, 413, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      {"144 DPI full",
       144,
       1.0,
       L"100 %",
       {{0, 8, IDB_BAR_FILLED_LEFT, 0, false},
        {8, 405, IDB_BAR_FILLED_BODY, 0, true},
        {405, 413, IDB_BAR_FILLED_RIGHT, 0, false}}},
      // x = 1: no left end, the right end's last column over the empty cap.
      {"144 DPI x=1",
       144,
       1.5 / 413,
       L"0 %",
       {{0, 1, IDB_BAR_FILLED_RIGHT, 7, false},
        {1, 9, IDB_BAR_EMPTY_LEFT, 1, false},
        {9, 404, IDB_BAR_EMPTY_BODY, 0, true},
        {404, 413, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      // x = 15, shorter than both ends: seven columns of the left end, the
      // whole right end.
      {"144 DPI x=15",
       144,
       15.5 / 413,
       L"3 %",
       {{0, 7, IDB_BAR_FILLED_LEFT, 0, false},
        {7, 15, IDB_BAR_FILLED_RIGHT, 0, false},
        {15, 404, IDB_BAR_EMPTY_BODY, 0, true},
        {404, 413, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      // 200 %: the bar is 550 x 40, the caps 12 wide, the filled ends 10;
      // every pixel of a piece becomes two by two.
      {"192 DPI empty",
       192,
       0.0,
       L"0 %",
       {{0, 12, IDB_BAR_EMPTY_LEFT, 0, false},
        {12, 538, IDB_BAR_EMPTY_BODY, 0, true},
        {538, 550, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      {"192 DPI full",
       192,
       1.0,
       L"100 %",
       {{0, 10, IDB_BAR_FILLED_LEFT, 0, false},
        {10, 540, IDB_BAR_FILLED_BODY, 0, true},
        {540, 550, IDB_BAR_FILLED_RIGHT, 0, false}}},
      // x = 7 is shorter than the empty cap now: the cap shows beyond it.
      {"192 DPI x=7",
       192,
       7.5 / 550,
       L"1 %",
       {{0, 3, IDB_BAR_FILLED_LEFT, 0, false},
        {3, 7, IDB_BAR_FILLED_RIGHT, 6, false},
        {7, 12, IDB_BAR_EMPTY_LEFT, 7, false},
        {12, 538, IDB_BAR_EMPTY_BODY, 0, true},
        {538, 550, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      {"192 DPI x=100",
       192,
       100.5 / 550,
       L"18 %",
       {{0, 10, IDB_BAR_FILLED_LEFT, 0, false},
        {10, 90, IDB_BAR_FILLED_BODY, 0, true},
        {90, 100, IDB_BAR_FILLED_RIGHT, 0, false},
        {100, 538, IDB_BAR_EMPTY_BODY, 0, true},
        {538, 550, IDB_BAR_EMPTY_RIGHT, 0, false}}},
  };
}

// The text font for a DPI, owned.
Qor::UniqueGdiObject TextFont(int dpi) {
  return Qor::UniqueGdiObject(QorSetup::CreateTextFont(dpi));
}

// The columns that the percentage text, centred in the bar, may touch.
RECT TextArea(const wchar_t* text, HGDIOBJ font, const Layout& layout) {
  Canvas probe(1, 1);
  Qor::SelectObjectScope use(probe.dc(), font);
  SIZE extent = {};
  GetTextExtentPoint32W(probe.dc(), text, static_cast<int>(wcslen(text)), &extent);
  int left = (layout.barWidth - extent.cx) / 2;
  int top = (layout.barHeight - extent.cy) / 2;
  return {left, top, left + extent.cx, top + extent.cy};
}

// The dark (text) pixels of a canvas in rows [from, to), right of column
// left: how many, and the rightmost column that has one.
struct Ink {
  int pixels = 0;
  int right = -1;
};
Ink InkInRows(const Canvas& canvas, int left, int width, int from, int to) {
  Ink ink;
  for (int y = from; y < to; ++y) {
    for (int x = left; x < width; ++x) {
      COLORREF c = canvas.at(x, y);
      if (GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100) {
        ++ink.pixels;
        ink.right = std::max(ink.right, x);
      }
    }
  }
  return ink;
}

} // namespace

// Every length of the 96-DPI design scales by dpi / 96, to the nearest
// pixel; at 96 DPI nothing changes, and a DPI outside the range that
// Windows offers (a failed query gives 0) is taken as its nearer end.
TEST(SetupLayout, ScalesTheDesignToTheScreensDpi) {
  struct Case {
    int dpi;
    Layout expected;
  } cases[] = {
      {96, {96, 300, 100, 16, 8, 5, 21, 10, 45, 275, 20, 6, 5}},
      {120, {120, 375, 125, 20, 10, 6, 26, 13, 56, 344, 25, 8, 6}},
      {144, {144, 450, 150, 24, 12, 8, 32, 15, 68, 413, 30, 9, 8}},
      {192, {192, 600, 200, 32, 16, 10, 42, 20, 90, 550, 40, 12, 10}},
      {480, {480, 1500, 500, 80, 40, 25, 105, 50, 225, 1375, 100, 30, 25}},
      {0, {96, 300, 100, 16, 8, 5, 21, 10, 45, 275, 20, 6, 5}},
      {72, {96, 300, 100, 16, 8, 5, 21, 10, 45, 275, 20, 6, 5}},
      {-144, {96, 300, 100, 16, 8, 5, 21, 10, 45, 275, 20, 6, 5}},
      {65535, {480, 1500, 500, 80, 40, 25, 105, 50, 225, 1375, 100, 30, 25}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const Layout got = LayoutForDpi(c.dpi);
    const Layout& want = c.expected;
    EXPECT_EQ(want.dpi, got.dpi);
    EXPECT_EQ(want.windowWidth, got.windowWidth);
    EXPECT_EQ(want.windowHeight, got.windowHeight);
    EXPECT_EQ(want.fontHeight, got.fontHeight);
    EXPECT_EQ(want.textLeft, got.textLeft);
    EXPECT_EQ(want.firstLineTop, got.firstLineTop);
    EXPECT_EQ(want.secondLineTop, got.secondLineTop);
    EXPECT_EQ(want.barLeft, got.barLeft);
    EXPECT_EQ(want.barTop, got.barTop);
    EXPECT_EQ(want.barWidth, got.barWidth);
    EXPECT_EQ(want.barHeight, got.barHeight);
    EXPECT_EQ(want.capWidth, got.capWidth);
    EXPECT_EQ(want.endWidth, got.endWidth);
  }
}

TEST(SetupLayout, FontHeightFollowsTheDpi) {
  for (int dpi : {96, 144, 192}) {
    SCOPED_TRACE(dpi);
    Qor::UniqueGdiObject font = TextFont(dpi);
    LOGFONTW described = {};
    ASSERT_EQ(static_cast<int>(sizeof described),
              GetObjectW(font.get(), sizeof described, &described));
    EXPECT_EQ(LayoutForDpi(dpi).fontHeight, described.lfHeight);
    EXPECT_STREQ(L"Verdana", described.lfFaceName);
  }
}

TEST(PaintingTest, BarPiecesHaveTheirSizes) {
  struct {
    int id, width;
  } sizes[] = {{IDB_BAR_EMPTY_BODY, 1},  {IDB_BAR_EMPTY_RIGHT, 6},  {IDB_BAR_EMPTY_LEFT, 6},
               {IDB_BAR_FILLED_LEFT, 5}, {IDB_BAR_FILLED_RIGHT, 5}, {IDB_BAR_FILLED_BODY, 1}};
  for (const auto& s : sizes) {
    SIZE size = Piece(s.id).size();
    EXPECT_EQ(s.width, size.cx) << s.id;
    EXPECT_EQ(kBarHeight, size.cy) << s.id;
  }
}

// Each case paints the bar into a window-sized canvas and compares every
// pixel with the pieces that the table places, at the case's DPI.
TEST(PaintingTest, BarColumnsComeFromThePieces) {
  for (const BarCase& c : BarCases()) {
    SCOPED_TRACE(c.name);
    const Layout layout = LayoutForDpi(c.dpi);
    const Qor::UniqueGdiObject font = TextFont(c.dpi);
    const int left = layout.barLeft;
    const int top = layout.barTop;
    const int width = layout.barWidth;
    const int height = layout.barHeight;
    Canvas canvas(layout.windowWidth, layout.windowHeight);
    QorSetup::PaintBar(canvas.dc(), GetModuleHandleW(nullptr), c.fraction,
                       static_cast<HFONT>(font.get()), layout);

    // The expected bar: the pieces as the table places them, then the text.
    Canvas expected(width, height);
    for (const Segment& s : c.segments) {
      ScaledPiece piece(s.piece, layout);
      for (int x = s.from; x < s.to; ++x) {
        int sourceX = s.tiled ? 0 : s.sourceColumn + (x - s.from);
        for (int y = 0; y < height; ++y) {
          SetPixel(expected.dc(), x, y, piece.at(sourceX, y));
        }
      }
    }
    const RECT text = TextArea(c.percentage, font.get(), layout);
    int outsideText = 0;
    int changedInText = 0;
    for (int x = 0; x < width; ++x) {
      for (int y = 0; y < height; ++y) {
        bool inText = x >= text.left && x < text.right && y >= text.top && y < text.bottom;
        COLORREF got = canvas.at(left + x, top + y);
        if (!inText) {
          ASSERT_EQ(expected.at(x, y), got) << "column " << x << " row " << y;
          ++outsideText;
        } else if (got != expected.at(x, y)) {
          ++changedInText;
        }
      }
    }
    EXPECT_GT(outsideText, width * height / 2);
    EXPECT_GT(changedInText, 0) << "no percentage drawn";

    // With the same text drawn over the expected pieces, the whole bar matches.
    {
      Qor::SelectObjectScope use(expected.dc(), font.get());
      SetTextColor(expected.dc(), RGB(0, 0, 0));
      SetBkMode(expected.dc(), TRANSPARENT);
      TextOutW(expected.dc(), text.left, text.top, c.percentage,
               static_cast<int>(wcslen(c.percentage)));
    }
    for (int x = text.left; x < text.right; ++x) {
      for (int y = 0; y < height; ++y) {
        ASSERT_EQ(expected.at(x, y), canvas.at(left + x, top + y))
            << "text column " << x << " row " << y;
      }
    }
    // Nothing outside the bar's rectangle is touched.
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(left - 1, top));
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(left + width, top + height - 1));
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(left, top + height));
  }
}

// The gradient fills the client area row by row at any DPI; the two lines
// of text stand where the layout puts them, in the font made for the DPI.
TEST(PaintingTest, BackgroundGradientRowsAndText) {
  for (int dpi : {96, 144, 192}) {
    SCOPED_TRACE(dpi);
    const Layout layout = LayoutForDpi(dpi);
    const Qor::UniqueGdiObject font = TextFont(dpi);
    const int width = QorSetup::ScaleToDpi(294, dpi);
    const int height = QorSetup::ScaleToDpi(71, dpi);
    Canvas canvas(width + 2, height + 2);
    RECT client = {0, 0, width, height};
    QorSetup::PaintBackground(canvas.dc(), client, static_cast<HFONT>(font.get()), layout);

    const double t = static_cast<double>(height - 1) / height;
    const int lastRedGreen = static_cast<int>(185 * t + 250 * (1 - t));
    const int lastBlue = static_cast<int>(185 * t + 240 * (1 - t));
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(RGB(250, 250, 240), canvas.at(x, 0)) << x;
      ASSERT_EQ(RGB(lastRedGreen, lastRedGreen, lastBlue), canvas.at(x, height - 1)) << x;
    }
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(width, 0));
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(0, height));

    // Both lines of text leave dark pixels in their bands, and none above
    // the first.
    const int first = layout.firstLineTop;
    const int second = layout.secondLineTop;
    const int end = second + layout.fontHeight;
    EXPECT_GT(InkInRows(canvas, layout.textLeft, width, first, second).pixels, 50 * dpi / 96);
    EXPECT_GT(InkInRows(canvas, layout.textLeft, width, second, end).pixels, 50 * dpi / 96);
    EXPECT_EQ(0, InkInRows(canvas, 0, width, 0, first).pixels);
    // The first line ends where the font says it does (give or take the
    // last letter's margin): it is drawn in it.
    Canvas probe(1, 1);
    Qor::SelectObjectScope use(probe.dc(), font.get());
    const wchar_t line[] = L"Please wait while the setup extracts the";
    SIZE extent = {};
    GetTextExtentPoint32W(probe.dc(), line, static_cast<int>(wcslen(line)), &extent);
    EXPECT_NEAR(layout.textLeft + extent.cx,
                InkInRows(canvas, layout.textLeft, width, first, second).right,
                layout.fontHeight / 4);
  }
}

namespace {

// A hidden progress window of the setup's own procedure at the design's
// size, in a fresh shell.
class DpiWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    QorSetup::ResetShell();
    QorSetup::Shell().instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SetupWndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VeltranoDpiTest";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"", WS_OVERLAPPED, 40,
                              30, 300, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window_);
  }
  void TearDown() override {
    DestroyWindow(window_);
    MSG message;
    PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // posted by WM_DESTROY
    QorSetup::ResetShell();
  }
  RECT Place() const {
    RECT place = {};
    GetWindowRect(window_, &place);
    return place;
  }
  // The shell's font height, and that the shell is laid out for dpi.
  void ExpectShellAt(int dpi) const {
    EXPECT_EQ(dpi, QorSetup::Shell().dpi);
    LOGFONTW described = {};
    ASSERT_TRUE(QorSetup::Shell().font);
    GetObjectW(QorSetup::Shell().font, sizeof described, &described);
    EXPECT_EQ(LayoutForDpi(dpi).fontHeight, described.lfHeight);
  }

  HWND window_ = nullptr;
};

void ExpectPlace(const RECT& want, const RECT& got) {
  EXPECT_EQ(want.left, got.left);
  EXPECT_EQ(want.top, got.top);
  EXPECT_EQ(want.right, got.right);
  EXPECT_EQ(want.bottom, got.bottom);
}

} // namespace

// A new window takes the layout of its screen's DPI (the prefix's setting
// under Wine), centred on the screen, with the font for it.
TEST_F(DpiWindowTest, NewWindowIsLaidOutForItsScreen) {
  const Layout layout = LayoutForDpi(QorSetup::WindowDpi(window_));
  QorSetup::FitToDpi(window_);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - layout.windowWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - layout.windowHeight) / 2;
  ExpectPlace({x, y, x + layout.windowWidth, y + layout.windowHeight}, Place());
  ExpectShellAt(layout.dpi);
}

// WM_DPICHANGED: the window takes the suggested rectangle, the font and the
// bar follow the new DPI, and back.
TEST_F(DpiWindowTest, DpiChangeTakesTheSuggestedRectangleAndRescales) {
  struct Case {
    int dpi;
    RECT suggested;
  } cases[] = {
      {192, {40, 30, 640, 230}},
      {144, {700, 20, 1150, 170}},
      {96, {0, 0, 300, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    RECT suggested = c.suggested;
    SendMessageW(window_, QorSetup::kDpiChangedMessage, MAKEWPARAM(c.dpi, c.dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    ExpectPlace(c.suggested, Place());
    ExpectShellAt(c.dpi);

    // The window's own bar painting draws the bar of the new layout.
    const Layout layout = LayoutForDpi(c.dpi);
    Canvas canvas(layout.windowWidth + 10, layout.windowHeight + 10);
    QorSetup::PaintBar(window_, canvas.dc());
    const int right = layout.barLeft + layout.barWidth - 1;
    const int bottom = layout.barTop + layout.barHeight - 1;
    EXPECT_NE(RGB(255, 0, 255), canvas.at(layout.barLeft, layout.barTop));
    EXPECT_NE(RGB(255, 0, 255), canvas.at(right, bottom));
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(right + 1, bottom));
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(right, bottom + 1));
  }
}

// Another program can post the note with any lParam: one that cannot be
// read, or holds no rectangle, neither ends the program nor places the
// window by it; the window keeps its centre at the layout's size.
TEST_F(DpiWindowTest, ForgedDpiNoteKeepsTheCentre) {
  RECT empty = {500, 500, 500, 500};
  RECT inverted = {600, 400, 100, 300};
  const LPARAM forged[] = {0, 0x10, static_cast<LPARAM>(-16), reinterpret_cast<LPARAM>(&empty),
                           reinterpret_cast<LPARAM>(&inverted)};
  for (LPARAM lParam : forged) {
    SCOPED_TRACE(lParam);
    RECT start = {40, 30, 640, 230};
    SendMessageW(window_, QorSetup::kDpiChangedMessage, MAKEWPARAM(192, 192),
                 reinterpret_cast<LPARAM>(&start));
    ASSERT_TRUE(PostMessageW(window_, QorSetup::kDpiChangedMessage, MAKEWPARAM(144, 144), lParam));
    MSG message;
    while (PeekMessageW(&message, window_, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
    // Centre (340, 130), 450 x 150.
    ExpectPlace({115, 55, 565, 205}, Place());
    ExpectShellAt(144);
  }
}
