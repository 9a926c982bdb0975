// What the EP device's screen can show, and the geometry of showing it.
//
// The device has a row of 16 fourteen-segment character cells with decimal
// points. kSegmentFont gives the lit segments of each ASCII code;
// MakeEpDisplayName turns any name or status text into the 16 characters such
// a display shows; SegmentCharGeometry gives the polygons of one cell, which
// the display control fills. WaveformPreview holds the decimated preview the
// device sends for a sound and reduces it to one stroke per pixel column.
// No drawing here: the Qt controls paint what these functions compute.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zandrel {

// Segment bits: 0 A, 1 B, 2 C, 3 D, 4 E, 5 F, 6 G1, 7 G2, 8 H, 9 J, 10 K,
// 11 L, 12 M, 13 N, 14 decimal point.
enum Segment : int { kSegA, kSegB, kSegC, kSegD, kSegE, kSegF, kSegG1, kSegG2, kSegH, kSegJ, kSegK, kSegL, kSegM, kSegN };
constexpr int kSegmentCount = 14;
constexpr uint16_t kDecimalPointBit = 1u << 14;

extern const std::array<uint16_t, 128> kSegmentFont;

// The mask of a character; codes of 128 and above (as unsigned bytes) show
// as a blank cell.
uint16_t SegmentMask(char ch);

// The 16 characters a device display shows for |name|: the last path
// component without its extension and without a "123 " slot prefix, bytes
// outside 32..126 as '?', cut to 16, double quotes removed, padded with
// spaces.
std::string MakeEpDisplayName(std::string name);

struct PointD {
  double x = 0;
  double y = 0;
  bool operator==(const PointD&) const = default;
};

struct SegmentPolygon {
  std::vector<PointD> points;
  bool lit = false;
};

struct CellGeometry {
  // The 14 segments in drawing order A, B, C, D, E, F, G1, G2, H, J, K, L, M, N.
  std::array<SegmentPolygon, kSegmentCount> segments;
  // The decimal point's bounding box (x, y, size) when it is lit.
  std::optional<std::array<double, 3>> decimalPoint;
};

// One cell of width w and height h at (x, y).
CellGeometry SegmentCharGeometry(char ch, double x, double y, double w, double h);

// The 16 cells of a display W x H pixels: the left x, top y, width and height
// of cell i's character area.
struct CellBox {
  double x, y, w, h;
};
CellBox DisplayCell(int index, double width, double height);

class WaveformPreview {
 public:
  struct Pair {
    float min, max;
  };
  // A vertical stroke of column x from top to bottom (pixels, inclusive).
  struct Stroke {
    int x, top, bottom;
  };

  // Interleaved little-endian 16-bit samples, two values per channel per
  // point; |channels| at least 1. Only exactly two channels fill the second lane.
  void SetData(std::span<const uint8_t> bytes, int channels);
  const std::vector<Pair>& Lane(int index) const { return index == 0 ? first_ : second_; }
  int channels() const { return channels_; }

  // The strokes of one lane drawn in the rectangle [left, right) x [top, bottom).
  static std::vector<Stroke> LaneStrokes(const std::vector<Pair>& lane, int left, int top, int right, int bottom);

 private:
  std::vector<Pair> first_;
  std::vector<Pair> second_;
  int channels_ = 1;
};

}  // namespace zandrel
