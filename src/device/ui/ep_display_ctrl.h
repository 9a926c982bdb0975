// The device's screen and the sound-preview strip, as Qt controls.
//
// CEpDisplayCtrl imitates the EP display: 16 fourteen-segment cells drawn in
// the device's green-on-teal colours; the owner assigns `text` (normally from
// MakeEpDisplayName) and calls update(). CWaveformCtrl draws the decimated
// preview of a sound in one lane (mono) or two (stereo). Both paint off-screen
// and copy the result in one step; neither takes input.
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

#include "device/ep_display.h"

namespace zandrel {

class CEpDisplayCtrl final : public QWidget {
 public:
  explicit CEpDisplayCtrl(QWidget* parent = nullptr);

  std::string text;
  QRgb backgroundColour = 0xFF197059;
  QRgb litColour = 0xFFE5FFFC;
  QRgb unlitColour = 0xFF1C5949;

  // The picture of the display at |size| (what a paint shows).
  QImage Render(QSize size) const;
  QSize sizeHint() const override { return {320, 44}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CWaveformCtrl final : public QWidget {
 public:
  explicit CWaveformCtrl(QWidget* parent = nullptr);

  // Set before SetData; at least 1.
  int channelCount = 1;
  QColor backgroundColour{0, 80, 58};
  QColor waveformColour{47, 153, 104};
  QColor centreLineColour{0, 43, 31};

  void SetData(std::span<const uint8_t> bytes);
  const WaveformPreview& Preview() const { return preview_; }
  QImage Render(QSize size) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void DrawChannel(QPainter& painter, const std::vector<WaveformPreview::Pair>& lane, const QRect& rect) const;
  WaveformPreview preview_;
};

}  // namespace zandrel
