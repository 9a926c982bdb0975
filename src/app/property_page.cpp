#include "app/property_page.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "widgets/note_select_dlg.h"

namespace zandrel {
namespace {

bool IsCtrlDelete(const QKeyEvent* e) {
  return e->key() == Qt::Key_Delete && (e->modifiers() & Qt::ControlModifier);
}

// The keys a text field works on its text with: the desktop's, and Ctrl+Y,
// the window's Redo, which not every desktop counts as one.
bool IsFieldEditingKey(const QKeyEvent* e) {
  for (QKeySequence::StandardKey k : {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut,
                                      QKeySequence::Paste, QKeySequence::Undo, QKeySequence::Redo})
    if (e->matches(k)) return true;
  return IsCtrlDelete(e) || e->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_Y);
}

}  // namespace

CPropertyPage::CPropertyPage(PageRequests& requests, QWidget* parent) : QWidget(parent), requests_(requests) {}

void CPropertyPage::Post(const std::function<void()>& request) {
  if (request) request();
  if (requests_.focusView) requests_.focusView();
}

int CPropertyPage::RunNotePicker(const NotePickerRequest& request) {
  CNoteSelectDlg picker(this);
  picker.lowNote = request.low;
  picker.highNote = request.high;
  picker.rootNote = request.root;
  picker.selectMode = request.mode;
  picker.accentColor = request.accent;
  picker.neutralColors = request.neutralColors;
  return picker.exec() == QDialog::Accepted ? picker.resultNote : -1;
}

void CPropertyPage::FitToText(QPushButton* button) {
  button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 12);
}

void CPropertyPage::ShowAsReadOnly(QLineEdit* field, bool pageColour) {
  field->setReadOnly(true);
  field->setFocusPolicy(Qt::ClickFocus);
  if (!pageColour) return;
  QPalette pal = field->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  field->setPalette(pal);
}

void CPropertyPage::ApplyColours(CColorEdit* field, const FieldColours& colours) {
  if (!colours.set || (field->ColouringEnabled() && field->backgroundColour == colours.background &&
                       field->textColour == colours.text))
    return;
  field->textColour = colours.text;
  field->SetBkColor(colours.background);
}

void CPropertyPage::KeepFieldKeys(QWidget* field) { field->installEventFilter(this); }

bool CPropertyPage::eventFilter(QObject* watched, QEvent* event) {
  // A read-only field does not claim the keys that would change its text
  // (Ctrl+Delete, Cut, Paste, Undo, Redo); without this the window's
  // shortcuts would delete, cut, paste or undo audio while a field has the
  // focus.
  if (event->type() == QEvent::ShortcutOverride && IsFieldEditingKey(static_cast<QKeyEvent*>(event))) event->accept();
  return QWidget::eventFilter(watched, event);
}

void CPropertyPage::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      break;
  }
  if (IsCtrlDelete(event)) {
    // Reaches the page only when the focused widget did not take the key:
    // a field keeps it for itself.
    QWidget* focus = QApplication::focusWidget();
    if (focus && !qobject_cast<QLineEdit*>(focus) && requests_.deleteWavData) requests_.deleteWavData();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace zandrel
