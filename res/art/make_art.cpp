// Draws the launcher's icon and progress bar pieces and writes them as .ico
// and 24-bit .bmp files into the folder given as the only argument. Plain
// C++ without platform calls, so the output is the same on every machine;
// the committed files in res/ are this program's output, and a test checks
// that they still are.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

std::uint8_t Byte(double v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool Save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// ---- progress bar -----------------------------------------------------------

const int kBarWidth = 275;
const int kBarHeight = 20;

const Rgb kBorder{118, 126, 136};
const Rgb kCorner{206, 208, 204}; // close to the window's gradient behind the bar
const Rgb kTrackTop{252, 252, 250};
const Rgb kTrackBottom{226, 228, 230};
const Rgb kFillTop{178, 232, 160};
const Rgb kFillMid{112, 196, 92};
const Rgb kFillBottom{64, 158, 58};
const Rgb kFillEdge{46, 122, 44};

Rgb Track(int y) {
  if (y == 0 || y == kBarHeight - 1) {
    return kBorder;
  }
  double t = (y - 1) / double(kBarHeight - 3);
  return Mix(kTrackTop, kTrackBottom, t);
}

// A glossy body: light upper half, a step, then a darker lower half.
Rgb Fill(int y) {
  if (y == 0 || y == kBarHeight - 1) {
    return kBorder;
  }
  double t = (y - 1) / double(kBarHeight - 3);
  if (t < 0.45) {
    return Mix(kFillTop, Mix(kFillTop, kFillMid, 0.6), t / 0.45);
  }
  return Mix(kFillMid, kFillBottom, (t - 0.45) / 0.55);
}

bool IsCorner(int y) {
  return y == 0 || y == kBarHeight - 1;
}

// Column x (0 .. 274) of the whole empty bar.
Rgb EmptyBar(int x, int y) {
  bool end = x == 0 || x == kBarWidth - 1;
  if (end) {
    return IsCorner(y) ? kCorner : Mix(kBorder, Track(y), 0.15);
  }
  bool nextToEnd = x == 1 || x == kBarWidth - 2;
  if (nextToEnd && IsCorner(y)) {
    return Mix(kBorder, kCorner, 0.45);
  }
  return Track(y);
}

// Column x of the whole bar when full; the last column is the fill's edge.
Rgb FullBar(int x, int y) {
  if (x == kBarWidth - 1) {
    return IsCorner(y) ? kBorder : Mix(kFillEdge, Fill(y), 0.2);
  }
  if (x == 0) {
    return EmptyBar(x, y);
  }
  if (x == 1 && IsCorner(y)) {
    return EmptyBar(x, y);
  }
  if (x == kBarWidth - 2) {
    return IsCorner(y) ? kBorder : Mix(kFillEdge, Fill(y), 0.65);
  }
  return Fill(y);
}

// A 24-bit bottom-up bitmap file of columns [from, from + width) of a bar.
template <class F> std::vector<std::uint8_t> BarPiece(F bar, int from, int width) {
  int stride = (width * 3 + 3) & ~3;
  std::vector<std::uint8_t> out;
  std::uint32_t pixelBytes = stride * kBarHeight;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 54 + pixelBytes);
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, width);
  Put32(out, kBarHeight);
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);
  Put32(out, pixelBytes);
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = kBarHeight - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      Rgb c = bar(from + x, y);
      out.push_back(Byte(c.b));
      out.push_back(Byte(c.g));
      out.push_back(Byte(c.r));
    }
    for (int pad = width * 3; pad < stride; ++pad) {
      out.push_back(0);
    }
  }
  return out;
}

// ---- icon -------------------------------------------------------------------

struct Rgba {
  double r, g, b, a; // premultiplied-free colour, a in 0..1
};

// Paints src over dst.
Rgba Over(Rgba dst, Rgb src, double alpha) {
  double a = alpha + dst.a * (1 - alpha);
  if (a <= 0) {
    return {0, 0, 0, 0};
  }
  auto ch = [&](double s, double d) { return (s * alpha + d * dst.a * (1 - alpha)) / a; };
  return {ch(src.r, dst.r), ch(src.g, dst.g), ch(src.b, dst.b), a};
}

double RoundedBoxDistance(double x, double y, double cx, double cy, double hw, double hh,
                          double radius) {
  double qx = std::fabs(x - cx) - (hw - radius);
  double qy = std::fabs(y - cy) - (hh - radius);
  double ox = std::max(qx, 0.0);
  double oy = std::max(qy, 0.0);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - radius;
}

// The icon in unit coordinates (0..1 both ways, y down): a rounded blue tile
// with a white arrow dropping into an open tray.
Rgba IconSample(double u, double v) {
  Rgba c{0, 0, 0, 0};
  double tile = RoundedBoxDistance(u, v, 0.5, 0.5, 0.47, 0.47, 0.16);
  if (tile < 0) {
    Rgb top{86, 160, 236};
    Rgb bottom{22, 78, 170};
    c = Over(c, Mix(top, bottom, v), 1);
    if (tile > -0.035) {
      c = Over(c, Rgb{16, 52, 120}, 0.55);
    }
    // soft highlight over the upper part
    if (v < 0.45 && tile < -0.035) {
      c = Over(c, Rgb{255, 255, 255}, 0.16 * (1 - v / 0.45));
    }
  }
  const Rgb white{255, 255, 255};
  bool arrowShaft = std::fabs(u - 0.5) < 0.075 && v > 0.16 && v < 0.50;
  bool arrowHead = v >= 0.40 && v < 0.66 && std::fabs(u - 0.5) < (0.66 - v) * 0.95;
  bool trayBottom = v > 0.72 && v < 0.82 && u > 0.22 && u < 0.78;
  bool traySides = v > 0.58 && v < 0.82 && ((u > 0.22 && u < 0.31) || (u > 0.69 && u < 0.78));
  if (tile < -0.02 && (arrowShaft || arrowHead || trayBottom || traySides)) {
    c = Over(c, white, 1);
  }
  return c;
}

std::vector<std::uint8_t> IconImage(int size) {
  const int ss = 8; // supersampling per axis
  std::vector<Rgba> pixels(size * size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < ss; ++sy) {
        for (int sx = 0; sx < ss; ++sx) {
          Rgba s = IconSample((x + (sx + 0.5) / ss) / size, (y + (sy + 0.5) / ss) / size);
          r += s.r * s.a;
          g += s.g * s.a;
          b += s.b * s.a;
          a += s.a;
        }
      }
      Rgba& p = pixels[y * size + x];
      p.a = a / (ss * ss);
      p.r = a > 0 ? r / a : 0;
      p.g = a > 0 ? g / a : 0;
      p.b = a > 0 ? b / a : 0;
    }
  }
  std::vector<std::uint8_t> out;
  int maskStride = ((size + 31) / 32) * 4;
  Put32(out, 40);
  Put32(out, size);
  Put32(out, size * 2);
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);
  Put32(out, size * size * 4 + maskStride * size);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) {
      const Rgba& p = pixels[y * size + x];
      out.push_back(Byte(p.b));
      out.push_back(Byte(p.g));
      out.push_back(Byte(p.r));
      out.push_back(Byte(p.a * 255));
    }
  }
  // AND mask for systems that ignore the alpha channel: transparent where
  // less than half covered.
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(maskStride, 0);
    for (int x = 0; x < size; ++x) {
      if (pixels[y * size + x].a < 0.5) {
        row[x / 8] |= 0x80 >> (x % 8);
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

std::vector<std::uint8_t> IconFile(const std::vector<int>& sizes) {
  std::vector<std::vector<std::uint8_t>> images;
  for (int s : sizes) {
    images.push_back(IconImage(s));
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<unsigned>(sizes.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(sizes[i] == 256 ? 0 : sizes[i]));
    out.push_back(static_cast<std::uint8_t>(sizes[i] == 256 ? 0 : sizes[i]));
    out.push_back(0);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) {
    out.insert(out.end(), image.begin(), image.end());
  }
  return out;
}

} // namespace

bool SameAsFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    return false;
  }
  std::vector<std::uint8_t> stored(bytes.size() + 1);
  std::size_t n = std::fread(stored.data(), 1, stored.size(), f);
  std::fclose(f);
  return n == bytes.size() && std::equal(bytes.begin(), bytes.end(), stored.begin());
}

int main(int argc, char** argv) {
  const bool compare = argc == 3 && std::string(argv[1]) == "--compare";
  if (argc != 2 && !compare) {
    std::fprintf(stderr, "usage: make_art OUTPUT_FOLDER | make_art --compare FOLDER\n");
    return 2;
  }
  std::string dir = argv[argc - 1];
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') {
    dir += '/';
  }
  struct Piece {
    const char* name;
    bool full;
    int from, width;
  } pieces[] = {
      {"bar_empty_body.bmp", false, 100, 1},  // 129
      {"bar_empty_right.bmp", false, 269, 6}, // 130
      {"bar_empty_left.bmp", false, 0, 6},    // 131
      {"bar_filled_left.bmp", true, 0, 5},    // 132
      {"bar_filled_right.bmp", true, 270, 5}, // 133
      {"bar_filled_body.bmp", true, 100, 1},  // 134
  };
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  for (const Piece& p : pieces) {
    files.emplace_back(p.name, p.full ? BarPiece(FullBar, p.from, p.width)
                                      : BarPiece(EmptyBar, p.from, p.width));
  }
  files.emplace_back("setup.ico", IconFile({16, 32, 48}));
  int failures = 0;
  for (const auto& file : files) {
    const std::string path = dir + file.first;
    if (compare ? !SameAsFile(path, file.second) : !Save(path, file.second)) {
      std::fprintf(stderr, "make_art: %s %s\n", path.c_str(),
                   compare ? "differs from the generator's drawing" : "cannot be written");
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
