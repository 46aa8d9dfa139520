// make_icons OUTDIR: draws the installer's two icons and writes them as
// OUTDIR/vexa_icon1.ico (the main window's class icon) and OUTDIR/vexa_icon2.ico (painted
// on every wizard page). Each holds one 32x32 image in 16 colours with its AND mask, the
// only form the installer asks for; the bytes depend on nothing but this code.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr int kTransparent = -1;

// The standard 16-colour VGA palette, in palette order.
enum Colour {
  kBlack,
  kMaroon,
  kGreen,
  kOlive,
  kNavy,
  kPurple,
  kTeal,
  kSilver,
  kGrey,
  kRed,
  kLime,
  kYellow,
  kBlue,
  kFuchsia,
  kAqua,
  kWhite,
};
constexpr uint32_t kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

// Pixels addressed from the top-left corner, as one draws; the file stores them bottom-up.
class Canvas {
 public:
  Canvas() : pixels_((size_t)kSize * kSize, kTransparent) {}

  int At(int x, int y) const { return Inside(x, y) ? pixels_[y * kSize + x] : kTransparent; }
  void Set(int x, int y, int colour) {
    if (Inside(x, y)) pixels_[y * kSize + x] = colour;
  }

  // Fills every pixel whose centre the shape contains, then outlines the filled area.
  template <typename Shape>
  void FillOutlined(Shape contains, int fill, int outline) {
    std::vector<bool> in((size_t)kSize * kSize);
    for (int y = 0; y < kSize; y++)
      for (int x = 0; x < kSize; x++) in[y * kSize + x] = contains(x + 0.5, y + 0.5);
    auto isIn = [&](int x, int y) { return Inside(x, y) && in[y * kSize + x]; };
    for (int y = 0; y < kSize; y++) {
      for (int x = 0; x < kSize; x++) {
        if (!isIn(x, y)) continue;
        bool edge = false;  // any of the eight neighbours outside keeps diagonal edges closed
        for (int dy = -1; dy <= 1; dy++)
          for (int dx = -1; dx <= 1; dx++) edge = edge || !isIn(x + dx, y + dy);
        Set(x, y, edge ? outline : fill);
      }
    }
  }

  // A stroke of the given half-width along the segment (x0,y0)-(x1,y1).
  void Stroke(double x0, double y0, double x1, double y1, double halfWidth, int colour) {
    for (int y = 0; y < kSize; y++) {
      for (int x = 0; x < kSize; x++) {
        if (DistanceToSegment(x + 0.5, y + 0.5, x0, y0, x1, y1) <= halfWidth) Set(x, y, colour);
      }
    }
  }

 private:
  static bool Inside(int x, int y) { return x >= 0 && x < kSize && y >= 0 && y < kSize; }
  static double DistanceToSegment(double px, double py, double x0, double y0, double x1,
                                  double y1) {
    double dx = x1 - x0, dy = y1 - y0;
    double t = ((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy);
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return std::hypot(px - (x0 + t * dx), py - (y0 + t * dy));
  }
  std::vector<int> pixels_;
};

// A speech bubble: a rounded box with a tail that leaves its lower edge on the left.
auto Bubble(double left, double top, double right, double bottom, double radius) {
  return [=](double x, double y) {
    double cx = x < left + radius ? left + radius : (x > right - radius ? right - radius : x);
    double cy = y < top + radius ? top + radius : (y > bottom - radius ? bottom - radius : y);
    bool body =
        x >= left && x <= right && y >= top && y <= bottom && std::hypot(x - cx, y - cy) <= radius;
    // The tail: a triangle from the lower edge down to a point below the box.
    double tipX = left + 1.5, tipY = bottom + 6;
    double baseLeft = left + 4, baseRight = left + 12;
    bool tail = false;
    if (y > bottom - 1 && y <= tipY) {
      double f = (y - (bottom - 1)) / (tipY - (bottom - 1));
      double l = baseLeft + (tipX - baseLeft) * f;
      double r = baseRight + (tipX - baseRight) * f;
      tail = x >= l && x <= r;
    }
    return body || tail;
  };
}

void DrawV(Canvas& canvas, double left, double top, double right, double bottom, int colour) {
  double middle = (left + right) / 2;
  canvas.Stroke(left, top, middle, bottom, 1.3, colour);
  canvas.Stroke(right, top, middle, bottom, 1.3, colour);
}

// Icon 1: a white bubble with a red V, the client's mark.
Canvas DrawClientIcon() {
  Canvas canvas;
  canvas.FillOutlined(Bubble(1, 2, 30, 22, 6), kWhite, kNavy);
  DrawV(canvas, 9, 6.5, 22, 18, kRed);
  return canvas;
}

// Icon 2: the bubble smaller and yellow, with a green arrow pointing down into a tray,
// the installer's variant for the wizard pages.
Canvas DrawWizardIcon() {
  Canvas canvas;
  canvas.FillOutlined(Bubble(1, 1, 21, 15, 5), kYellow, kNavy);
  DrawV(canvas, 6, 4, 16, 12.5, kRed);
  // Tray.
  canvas.FillOutlined([](double x, double y) { return x >= 14 && x <= 31 && y >= 27 && y <= 31; },
                      kSilver, kBlack);
  // Arrow: shaft and head.
  canvas.FillOutlined(
      [](double x, double y) {
        bool shaft = x >= 20.5 && x <= 25.5 && y >= 13 && y <= 20;
        bool head = y >= 19.5 && y <= 27 && std::fabs(x - 23) <= (27 - y) * 1.1;
        return shaft || head;
      },
      kLime, kGreen);
  return canvas;
}

void PutU16(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(value & 0xFF);
  out.push_back((value >> 8) & 0xFF);
}
void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// An .ico file with one 4-bit image: directory, BITMAPINFOHEADER (height doubled for the
// mask), palette, colour rows and mask rows, both bottom-up.
std::vector<uint8_t> EncodeIcon(const Canvas& canvas) {
  constexpr uint32_t kXorRow = kSize / 2, kAndRow = kSize / 8;
  constexpr uint32_t kImageBytes = 40 + 16 * 4 + kSize * kXorRow + kSize * kAndRow;
  std::vector<uint8_t> out;
  PutU16(out, 0);  // reserved
  PutU16(out, 1);  // an icon
  PutU16(out, 1);  // one image
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(16);  // colours
  out.push_back(0);
  PutU16(out, 1);  // planes
  PutU16(out, 4);  // bits per pixel
  PutU32(out, kImageBytes);
  PutU32(out, 6 + 16);  // the image follows the directory

  PutU32(out, 40);
  PutU32(out, kSize);
  PutU32(out, kSize * 2);
  PutU16(out, 1);
  PutU16(out, 4);
  PutU32(out, 0);  // uncompressed
  PutU32(out, kSize * kXorRow + kSize * kAndRow);
  for (int k = 0; k < 4; k++) PutU32(out, 0);  // resolution and colour counts unused
  for (uint32_t rgb : kPalette) {
    out.push_back(rgb & 0xFF);
    out.push_back((rgb >> 8) & 0xFF);
    out.push_back((rgb >> 16) & 0xFF);
    out.push_back(0);
  }
  for (int y = kSize - 1; y >= 0; y--) {
    for (int x = 0; x < kSize; x += 2) {
      int left = canvas.At(x, y), right = canvas.At(x + 1, y);
      left = left == kTransparent ? 0 : left;
      right = right == kTransparent ? 0 : right;
      out.push_back((uint8_t)(left << 4 | right));
    }
  }
  for (int y = kSize - 1; y >= 0; y--) {
    for (int x = 0; x < kSize; x += 8) {
      uint8_t bits = 0;
      for (int k = 0; k < 8; k++)
        if (canvas.At(x + k, y) == kTransparent) bits |= 0x80 >> k;
      out.push_back(bits);
    }
  }
  return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_icons: %s: cannot write\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: make_icons OUTDIR\n");
    return 2;
  }
  std::string dir = argv[1];
  bool ok = WriteFile(dir + "/vexa_icon1.ico", EncodeIcon(DrawClientIcon())) &&
            WriteFile(dir + "/vexa_icon2.ico", EncodeIcon(DrawWizardIcon()));
  return ok ? 0 : 1;
}
