#include "device/ep_display.h"

#include <algorithm>
#include <cctype>

namespace zandrel {

const std::array<uint16_t, 128> kSegmentFont = [] {
  std::array<uint16_t, 128> font{};
  const uint16_t printable[] = {
      0x0006, 0x0220, 0x12CE, 0x12ED, 0x0C24, 0x2359, 0x0200, 0x2400, 0x0900, 0x3FC0, 0x12C0, 0x0800, 0x00C0,
      0x4000, 0x0C00,                                                                          // 33 .. 47
      0x0C3F, 0x0406, 0x00DB, 0x008F, 0x00E6, 0x2069, 0x00FD, 0x0007, 0x00FF, 0x00EF,          // 48 .. 57
      0x1200, 0x0A00, 0x2400, 0x00C8, 0x0900, 0x1083, 0x02BB,                                  // 58 .. 64
      0x00F7, 0x128F, 0x0039, 0x120F, 0x0079, 0x0071, 0x00BD, 0x00F6, 0x1209, 0x001E, 0x2470,  // A .. K
      0x0038, 0x0536, 0x2136, 0x003F, 0x0073, 0x203F, 0x2073, 0x00ED, 0x1201, 0x003E, 0x0C30,  // L .. V
      0x2836, 0x2D00, 0x1500, 0x0C09,                                                          // W .. Z
      0x0039, 0x2100, 0x000F, 0x2800, 0x0008, 0x0100,                                          // 91 .. 96
  };
  for (size_t i = 0; i < std::size(printable); ++i) font[33 + i] = printable[i];
  for (int c = 'a'; c <= 'z'; ++c) font[static_cast<size_t>(c)] = font[static_cast<size_t>(c - 'a' + 'A')];
  return font;
}();

uint16_t SegmentMask(char ch) {
  const unsigned char code = static_cast<unsigned char>(ch);
  return code < 128 ? kSegmentFont[code] : kSegmentFont[' '];
}

std::string MakeEpDisplayName(std::string name) {
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(0, dot);
  auto digit = [&](size_t i) { return std::isdigit(static_cast<unsigned char>(name[i])) != 0; };
  if (name.size() > 4 && digit(0) && digit(1) && digit(2) && name[3] == ' ') name = name.substr(4);
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u > 126) c = '?';
  }
  if (name.size() > 16) name.resize(16);
  name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
  name.resize(16, ' ');
  return name;
}

CellBox DisplayCell(int index, double width, double height) {
  const double m = width * 0.0625;
  const double o = 0.1 * m;
  return CellBox{index * m + o, 0.1 * height, m - 2 * o, height - 2 * (0.1 * height)};
}

CellGeometry SegmentCharGeometry(char ch, double x, double y, double w, double h) {
  const uint16_t mask = SegmentMask(ch);
  const double d = 0.12 * w;
  const double g = 0.3 * d;
  const double t = 0.5 * d;
  const double ym = y + h / 2;
  const double cx = x + w / 2;

  CellGeometry cell;
  auto set = [&](Segment s, std::vector<PointD> points) {
    cell.segments[s].points = std::move(points);
    cell.segments[s].lit = (mask >> s) & 1;
  };
  set(kSegA, {{x + d + g, y}, {x + w - d - g, y}, {x + w - 2 * d - g, y + d}, {x + 2 * d + g, y + d}});
  set(kSegB, {{x + w, y + d + g}, {x + w, ym - g}, {x + w - d, ym - g - t}, {x + w - d, y + 2 * d + g}});
  set(kSegC, {{x + w, ym + g}, {x + w, y + h - d - g}, {x + w - d, y + h - 2 * d - g}, {x + w - d, ym + g + t}});
  set(kSegD, {{x + d + g, y + h}, {x + w - d - g, y + h}, {x + w - 2 * d - g, y + h - d}, {x + 2 * d + g, y + h - d}});
  set(kSegE, {{x, ym + g}, {x, y + h - d - g}, {x + d, y + h - 2 * d - g}, {x + d, ym + g + t}});
  set(kSegF, {{x, y + d + g}, {x, ym - g}, {x + d, ym - g - t}, {x + d, y + 2 * d + g}});
  set(kSegG1, {{x + d + g, ym},
               {x + d + g + t, ym - t},
               {cx - g - t, ym - t},
               {cx - g, ym},
               {cx - g - t, ym + t},
               {x + d + g + t, ym + t}});
  set(kSegG2, {{cx + g, ym},
               {cx + g + t, ym - t},
               {x + w - d - g - t, ym - t},
               {x + w - d - g, ym},
               {x + w - d - g - t, ym + t},
               {cx + g + t, ym + t}});
  set(kSegH, {{x + d + 2 * g, y + d + 2 * g}, {x + 2 * d + 2 * g, y + d + 2 * g}, {cx - g - t, ym - d - g}, {cx - g - t - d, ym - d - g}});
  set(kSegJ, {{cx, y + d + g}, {cx + t, y + 2 * d + g}, {cx + t, ym - g - t}, {cx, ym - g}, {cx - t, ym - g - t}, {cx - t, y + 2 * d + g}});
  set(kSegK, {{x + w - d - 2 * g, y + d + 2 * g},
              {x + w - 2 * d - 2 * g, y + d + 2 * g},
              {cx + g + t, ym - d - g},
              {cx + g + t + d, ym - d - g}});
  set(kSegL, {{x + d + 2 * g, y + h - d - 2 * g},
              {x + 2 * d + 2 * g, y + h - d - 2 * g},
              {cx - g - t, ym + d + g},
              {cx - g - t - d, ym + d + g}});
  set(kSegM, {{cx, y + h - d - g}, {cx + t, y + h - 2 * d - g}, {cx + t, ym + g + t}, {cx, ym + g}, {cx - t, ym + g + t}, {cx - t, y + h - 2 * d - g}});
  set(kSegN, {{x + w - d - 2 * g, y + h - d - 2 * g},
              {x + w - 2 * d - 2 * g, y + h - d - 2 * g},
              {cx + g + t, ym + d + g},
              {cx + g + t + d, ym + d + g}});
  if (mask & kDecimalPointBit) cell.decimalPoint = std::array<double, 3>{x + w - 0.75 * d, y + h - 1.5 * d, 1.5 * d};
  return cell;
}

void WaveformPreview::SetData(std::span<const uint8_t> bytes, int channels) {
  first_.clear();
  second_.clear();
  channels_ = std::max(1, channels);
  if (bytes.empty()) return;
  std::vector<float> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)) * (1.0f / 32768.0f);
  const size_t step = 2 * static_cast<size_t>(channels_);
  for (size_t k = 0; k + step <= samples.size(); k += step) {
    first_.push_back({std::min(samples[k], samples[k + 1]), std::max(samples[k], samples[k + 1])});
    if (channels_ == 2) second_.push_back({std::min(samples[k + 2], samples[k + 3]), std::max(samples[k + 2], samples[k + 3])});
  }
}

std::vector<WaveformPreview::Stroke> WaveformPreview::LaneStrokes(const std::vector<Pair>& lane, int left, int top,
                                                                  int right, int bottom) {
  std::vector<Stroke> strokes;
  const int width = right - left;
  if (lane.empty() || width <= 0) return strokes;
  const int mid = (top + bottom) / 2;
  const float step = static_cast<float>(lane.size()) / static_cast<float>(width);
  const float scale = static_cast<float>(bottom - top) * 0.5f * 0.94f;
  for (int i = 0; i < width; ++i) {
    const size_t idx = static_cast<size_t>(static_cast<float>(i) * step);
    if (idx >= lane.size()) break;
    const int ymax = static_cast<int>(scale * lane[idx].max);
    const int ymin = static_cast<int>(scale * lane[idx].min);
    Stroke s{left + i, mid - ymax, mid - ymin};
    // A flat stretch still shows a two-pixel stroke.
    if (ymax == ymin) {
      --s.top;
      ++s.bottom;
    }
    strokes.push_back(s);
  }
  return strokes;
}

}  // namespace zandrel
