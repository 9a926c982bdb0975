#include "widgets/universal_dlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>

namespace zandrel {
namespace {

// The dialog's pixel geometry: 309 x 214 dialog units of an 8-point dialog
// font, at 1.5 pixels a horizontal unit and 1.625 a vertical one. The knob
// area is 442 x 275 pixels: two knobs share a row from 210 pixels on.
constexpr int kDialogWidth = 463;
constexpr int kDialogHeight = 348;
const QRect kKnobArea(10, 11, 442, 275);
const QRect kProgress(10, 293, 442, 10);
constexpr int kButtonTop = 312;
constexpr int kButtonHeight = 23;

std::filesystem::path ToPath(const QString& s) { return std::filesystem::path(s.toStdString()); }

}  // namespace

CUniversalDlg::CUniversalDlg(QWidget* parent)
    : QDialog(parent),
      title(model_.title),
      configName(model_.configName),
      autoPreview(model_.autoPreview),
      progressBar(new QProgressBar(this)),
      panel_(&model_.panel),
      knobArea_(new QFrame(this)),
      default_(new QPushButton(QStringLiteral("Default"), this)),
      preview_(new QPushButton(QStringLiteral("Preview"), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
  setWindowTitle(QStringLiteral("Dialog"));
  setFixedSize(kDialogWidth, kDialogHeight);
  knobArea_->setFrameShape(QFrame::Box);
  knobArea_->setGeometry(kKnobArea);
  progressBar->setGeometry(kProgress);
  progressBar->setTextVisible(false);
  default_->setGeometry(10, kButtonTop, 64, kButtonHeight);
  preview_->setGeometry(82, kButtonTop, 75, kButtonHeight);
  ok_->setGeometry(297, kButtonTop, 75, kButtonHeight);
  cancel_->setGeometry(378, kButtonTop, 75, kButtonHeight);
  ok_->setDefault(true);
  previewTimer_.setSingleShot(true);
  previewTimer_.setInterval(200);
  connect(&previewTimer_, &QTimer::timeout, this, &CUniversalDlg::Preview);
  connect(preview_, &QPushButton::clicked, this, &CUniversalDlg::Preview);
  connect(default_, &QPushButton::clicked, this, &CUniversalDlg::OnDefault);
  connect(ok_, &QPushButton::clicked, this, &CUniversalDlg::OnBnClickedOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

CUniversalDlg::~CUniversalDlg() {
  previewTimer_.stop();
  qApp->removeEventFilter(this);
  panel_.Clear();
}

int CUniversalDlg::AddKnob(const std::string& key, const std::string& label, const std::string& format,
                           float minimum, float maximum, float defaultValue, ColorRef colour) {
  return model_.AddKnob(key, label, format, minimum, maximum, defaultValue, colour);
}

int CUniversalDlg::AddSection(const std::string& text) { return model_.AddSection(text); }

QString CUniversalDlg::ConfigIniPath() const {
  if (configName.empty()) return {};
  QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  if (folder.isEmpty()) return {};
  if (QCoreApplication::applicationName().isEmpty()) folder += QStringLiteral("/Quorvel");
  if (!QDir().mkpath(folder)) return {};
  return folder + QLatin1Char('/') + QString::fromStdString(configName) + QStringLiteral(".ini");
}

void CUniversalDlg::showEvent(QShowEvent* event) {
  if (!initialised_) OnInitDialog();
  // Space previews from wherever the focus is inside the dialog.
  qApp->installEventFilter(this);
  QDialog::showEvent(event);
}

void CUniversalDlg::hideEvent(QHideEvent* event) {
  qApp->removeEventFilter(this);
  spaceHeld_ = false;
  QDialog::hideEvent(event);
}

void CUniversalDlg::OnInitDialog() {
  initialised_ = true;
  if (!title.empty()) setWindowTitle(QString::fromStdString(title));
  progressBar->hide();
  preview_->setVisible(static_cast<bool>(previewCallback));
  if (model_.params.empty()) return;

  const QRect area = knobArea_->geometry();
  const int needed = model_.MeasureHeight(area.width());
  knobArea_->hide();
  const int grow = needed - area.height();
  if (grow > 0) {
    setFixedSize(width(), height() + grow + 20);
    for (QWidget* w : {static_cast<QWidget*>(ok_), static_cast<QWidget*>(cancel_), static_cast<QWidget*>(preview_),
                       static_cast<QWidget*>(progressBar), static_cast<QWidget*>(default_)})
      w->move(w->x(), w->y() + grow + 20);
  }

  panel_.parent = this;
  panel_.layoutRect = QRect(area.left(), area.top(), area.width(), needed);
  model_.FillPanel();
  panel_.CreateControls();

  if (autoPreview && previewCallback) {
    for (int id : model_.panel.order) panel_.SetCommitCallback(id, [this] { SchedulePreview(); });
  }
  if (const QString path = ConfigIniPath(); !path.isEmpty()) model_.LoadConfigFile(ToPath(path));
}

void CUniversalDlg::SchedulePreview() { previewTimer_.start(); }

void CUniversalDlg::Preview() {
  previewTimer_.stop();
  if (previewCallback) previewCallback();
}

void CUniversalDlg::OnDefault() {
  for (int id : model_.ResetToDefaults()) {
    if (CKnobControl* knob = panel_.FindKnob(id)) knob->repaint();
  }
  if (autoPreview && previewCallback) Preview();
}

void CUniversalDlg::OnBnClickedOk() {
  if (const QString path = ConfigIniPath(); !path.isEmpty()) model_.SaveConfigFile(ToPath(path));
  accept();
}

bool CUniversalDlg::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && previewCallback) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (key->key() == Qt::Key_Space && widget && (widget == this || isAncestorOf(widget))) {
      // A held key repeats its presses; only the first one previews. The key
      // never reaches the focused control (a button would click on it).
      if (type == QEvent::KeyPress && !key->isAutoRepeat() && !spaceHeld_) {
        spaceHeld_ = true;
        Preview();
      } else if (type == QEvent::KeyRelease && !key->isAutoRepeat()) {
        spaceHeld_ = false;
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace zandrel
