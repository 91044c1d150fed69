// The progress window's painting, into memory device contexts, compared
// pixel by pixel with the bar pieces of the program's resources.
#include "qor/setup/painting.h"
#include "qor/setup/window.h"

#include "qor/handle/unique_handle.h"

#include "resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using QorSetup::kBarHeight;
using QorSetup::kBarWidth;

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

struct Segment {
  int from, to; // bar columns [from, to)
  int piece;
  int sourceColumn; // of the segment's first column
  bool tiled;       // every column from sourceColumn 0 of a one-column piece
};

struct BarCase {
  const char* name;
  double fraction;
  const wchar_t* percentage;
  std::vector<Segment> segments;
};

std::vector<BarCase> BarCases() {
  return {
      {"empty",
       0.0,
       L"0 %",
       {{0, 6, IDB_BAR_EMPTY_LEFT, 0, false},
        {6, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      {"full",
       1.0,
       L"100 %",
       {{0, 5, IDB_BAR_FILLED_LEFT, 0, false},
        {5, 270, IDB_BAR_FILLED_BODY, 0, true},
        {270, 275, IDB_BAR_FILLED_RIGHT, 0, false}}},
      // x = 1: no left end, the right end's last column over the empty cap.
      {"x=1",
       1.5 / 275,
       L"0 %",
       {{0, 1, IDB_BAR_FILLED_RIGHT, 4, false},
        {1, 6, IDB_BAR_EMPTY_LEFT, 1, false},
        {6, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      // x = 7: three columns of the left end, four of the right end.
      {"x=7",
       7.5 / 275,
       L"2 %",
       {{0, 3, IDB_BAR_FILLED_LEFT, 0, false},
        {3, 7, IDB_BAR_FILLED_RIGHT, 1, false},
        {7, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
      {"x=100",
       100.5 / 275,
       L"36 %",
       {{0, 5, IDB_BAR_FILLED_LEFT, 0, false},
        {5, 95, IDB_BAR_FILLED_BODY, 0, true},
        {95, 100, IDB_BAR_FILLED_RIGHT, 0, false},
        {100, 269, IDB_BAR_EMPTY_BODY, 0, true},
        {269, 275, IDB_BAR_EMPTY_RIGHT, 0, false}}},
  };
}

class PaintingTest : public ::testing::Test {
protected:
  void SetUp() override { font_.reset(QorSetup::CreateTextFont()); }
  HFONT font() const { return static_cast<HFONT>(font_.get()); }

  // The columns that the centred percentage text may touch.
  RECT TextArea(const wchar_t* text) {
    Canvas probe(1, 1);
    Qor::SelectObjectScope use(probe.dc(), font());
    SIZE extent = {};
    GetTextExtentPoint32W(probe.dc(), text, static_cast<int>(wcslen(text)), &extent);
    int left = (kBarWidth - extent.cx) / 2;
    int top = (kBarHeight - extent.cy) / 2;
    return {left, top, left + extent.cx, top + extent.cy};
  }

  Qor::UniqueGdiObject font_;
};

} // namespace

TEST_F(PaintingTest, BarPiecesHaveTheirSizes) {
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

TEST_F(PaintingTest, BarColumnsComeFromThePieces) {
  for (const BarCase& c : BarCases()) {
    SCOPED_TRACE(c.name);
    const int left = 10;
    const int top = 45;
    Canvas canvas(300, 100);
    QorSetup::PaintBar(canvas.dc(), GetModuleHandleW(nullptr), c.fraction, font(), left, top);

    // The expected bar: the pieces as the table places them, then the text.
    Canvas expected(kBarWidth, kBarHeight);
    for (const Segment& s : c.segments) {
      Piece piece(s.piece);
      for (int x = s.from; x < s.to; ++x) {
        int sourceX = s.tiled ? 0 : s.sourceColumn + (x - s.from);
        for (int y = 0; y < kBarHeight; ++y) {
          SetPixel(expected.dc(), x, y, piece.at(sourceX, y));
        }
      }
    }
    const RECT text = TextArea(c.percentage);
    int outsideText = 0;
    int changedInText = 0;
    for (int x = 0; x < kBarWidth; ++x) {
      for (int y = 0; y < kBarHeight; ++y) {
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
    EXPECT_GT(outsideText, kBarWidth * kBarHeight / 2);
    EXPECT_GT(changedInText, 0) << "no percentage drawn";

    // With the same text drawn over the expected pieces, the whole bar matches.
    {
      Qor::SelectObjectScope use(expected.dc(), font());
      SetTextColor(expected.dc(), RGB(0, 0, 0));
      SetBkMode(expected.dc(), TRANSPARENT);
      TextOutW(expected.dc(), text.left, text.top, c.percentage,
               static_cast<int>(wcslen(c.percentage)));
    }
    for (int x = text.left; x < text.right; ++x) {
      for (int y = 0; y < kBarHeight; ++y) {
        ASSERT_EQ(expected.at(x, y), canvas.at(left + x, top + y))
            << "text column " << x << " row " << y;
      }
    }
    // Nothing outside the bar's rectangle is touched.
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(left - 1, top));
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(left + kBarWidth, top + kBarHeight - 1));
    EXPECT_EQ(RGB(255, 0, 255), canvas.at(left, top + kBarHeight));
  }
}

TEST_F(PaintingTest, BackgroundGradientRowsAndText) {
  const int width = 294;
  const int height = 71;
  Canvas canvas(width + 2, height + 2);
  RECT client = {0, 0, width, height};
  QorSetup::PaintBackground(canvas.dc(), client, font());

  const double t = static_cast<double>(height - 1) / height;
  const int lastRedGreen = static_cast<int>(185 * t + 250 * (1 - t));
  const int lastBlue = static_cast<int>(185 * t + 240 * (1 - t));
  for (int x = 0; x < width; ++x) {
    ASSERT_EQ(RGB(250, 250, 240), canvas.at(x, 0)) << x;
    ASSERT_EQ(RGB(lastRedGreen, lastRedGreen, lastBlue), canvas.at(x, height - 1)) << x;
  }
  EXPECT_EQ(RGB(255, 0, 255), canvas.at(width, 0));
  EXPECT_EQ(RGB(255, 0, 255), canvas.at(0, height));

  // Both lines of text leave dark pixels in their bands.
  auto darkInRows = [&](int from, int to) {
    int dark = 0;
    for (int y = from; y < to; ++y) {
      for (int x = 8; x < width; ++x) {
        COLORREF c = canvas.at(x, y);
        if (GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100) {
          ++dark;
        }
      }
    }
    return dark;
  };
  EXPECT_GT(darkInRows(5, 21), 50);
  EXPECT_GT(darkInRows(21, 37), 50);
}
