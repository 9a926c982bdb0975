// Reads arbitrary bytes as the waveform preview a device sends for a sound,
// with any channel count its metadata may claim, and draws it into panes of
// any size: every stroke must stay in its pane. The request that asks for the
// preview is planned from a size and channel count taken from the input too.
//
// Input: byte 0 channels (as a signed byte), bytes 1-4 pane width and height
// (little-endian, 0..2047 each), bytes 5-8 the sound file's size, then the
// preview bytes.
#include <cstdint>
#include <cstring>
#include <span>

#include "device/device_transfers.h"
#include "device/ep_display.h"

using namespace zandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const int channels = static_cast<int8_t>(data[0]);
  const int width = (data[1] | (data[2] << 8)) & 0x7FF;
  const int height = (data[3] | (data[4] << 8)) & 0x7FF;
  uint32_t fileSize = 0;
  std::memcpy(&fileSize, data + 5, 4);
  const std::span<const uint8_t> bytes(data + 9, size - 9);

  const PreviewRequest plan = PlanPreview(fileSize, channels);
  if (plan.bytes != 4u * plan.points) __builtin_trap();

  WaveformPreview preview;
  preview.SetData(bytes, channels);
  if (preview.channels() < 1) __builtin_trap();
  const size_t pointBytes = 4 * static_cast<size_t>(preview.channels());
  if (preview.Lane(0).size() != bytes.size() / pointBytes) __builtin_trap();
  if (!preview.Lane(1).empty() && preview.Lane(1).size() != preview.Lane(0).size()) __builtin_trap();

  // Two lanes stacked in the pane, as the display control draws them.
  const int split = height / 2;
  const int lanes[2][2] = {{0, split}, {split, height}};
  for (int lane = 0; lane < 2; ++lane) {
    const int top = lanes[lane][0];
    const int bottom = lanes[lane][1];
    for (const WaveformPreview::Stroke& stroke : WaveformPreview::LaneStrokes(preview.Lane(lane), 0, top, width, bottom)) {
      if (stroke.x < 0 || stroke.x >= width) __builtin_trap();
      if (stroke.top > stroke.bottom || stroke.top < top - 1 || stroke.bottom > bottom + 1) __builtin_trap();
    }
  }
  return 0;
}
