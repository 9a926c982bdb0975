// What the Region and Global pages share: the requests they send to the main
// frame and their keyboard filter.
//
// The pages never change the document; they ask the frame, which queues the
// request and handles it after the page's handler has returned. The pages
// never close: Enter and Escape do nothing on them, and Ctrl+Delete outside
// a text field is the frame's "Delete Wav Data".
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "app/model/page_model_parts.h"
#include "widgets/color_edit.h"

namespace zandrel {

struct PageRequests {
  std::function<void()> editRegion;    // copy the Region page's editRegion over the selected region
  std::function<void()> editGlobal;    // copy the Global page's editParams over the settings
  std::function<void()> deleteRegion;  // remove the selected region
  std::function<void()> splitRegion;   // split at the view's cursor
  std::function<void()> removeAudio;   // remove the audio between the view's loop points
  std::function<void()> deleteWavData; // the "Delete Wav Data" command
  std::function<void()> focusView;     // give the waveform view the keyboard focus
  // The view's selection (loopIn, loopOut; -1 = unset).
  std::function<std::pair<int64_t, int64_t>()> selection;
};

class CPropertyPage : public QWidget {
  Q_OBJECT

 public:
  CPropertyPage(PageRequests& requests, QWidget* parent);

  // While raised, the program is writing the page's fields and their change
  // notifications start no blinking.
  bool updatingControls = false;

 protected:
  // Runs the modal note picker; the picked note, or -1 when cancelled.
  int RunNotePicker(const NotePickerRequest& request);
  // Lets |button| shrink to its text, so a narrow pane still shows it whole.
  static void FitToText(QPushButton* button);
  // A read-only field in the page's own colour, not in that of a field to
  // type into; it takes the focus only when clicked.
  static void ShowAsReadOnly(QLineEdit* field, bool pageColour = true);
  // Gives |field| the colours the model asks for (once they are set).
  static void ApplyColours(CColorEdit* field, const FieldColours& colours);
  // Writes the model's texts into the fields that differ, with
  // updatingControls raised.
  template <size_t N>
  void WriteTexts(const std::array<QLineEdit*, N>& fields, const std::array<std::string, N>& texts) {
    updatingControls = true;
    for (size_t i = 0; i < N; ++i) {
      const QString text = QString::fromStdString(texts[i]);
      if (fields[i]->text() != text) fields[i]->setText(text);
    }
    updatingControls = false;
  }
  // Sends |request| (when the frame provided it), then focuses the view.
  void Post(const std::function<void()>& request);
  // Lets the text fields keep Ctrl+Delete (delete a word) from the frame's
  // shortcut; call for every line edit of the page.
  void KeepFieldKeys(QWidget* field);
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  PageRequests& requests_;
};

}  // namespace zandrel
