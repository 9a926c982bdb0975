#include "notes/ui/note_dialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "document/note_names.h"
#include "platform/message_host.h"
#include "widgets/markdown_text_ctrl.h"
#include "widgets/note_select_dlg.h"
#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

constexpr int kItemHeight = 22;
constexpr int kCellsRole = Qt::UserRole;
constexpr int kHeaderRole = Qt::UserRole + 1;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The help controls of these dialogs: dark text on a light page.
void StyleHelp(CMarkdownTextCtrl* help) {
  help->textColour = MakeColorRef(20, 20, 20);
  help->backgroundColour = MakeColorRef(250, 250, 250);
}

QFont TableFont() {
  QFont font(QStringLiteral("Consolas"), 9);
  if (!QFontInfo(font).exactMatch()) {
    font = QFont(QStringLiteral("Courier New"), 9);
    if (!QFontInfo(font).exactMatch()) {
      font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
      font.setPointSize(9);
    }
  }
  return font;
}

QRadioButton* AddRadio(QButtonGroup* group, QVBoxLayout* layout, const char* text, int id) {
  auto* radio = new QRadioButton(QString::fromUtf8(text));
  group->addButton(radio, id);
  layout->addWidget(radio);
  return radio;
}

QDialogButtonBox* OkCancel(QDialog* dialog, const QString& okText = QStringLiteral("OK")) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(okText);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

// ----------------------------------------------------------------- transpose

std::string CTransposeDlg::HelpText() {
  return "# Understanding Data Transposition\n"
         "**Important:** Transposition in the instrument data works *inversely* to what you might expect!\n"
         "### How It Works\n"
         "When you transpose sample data **down** by -12 semitones (e.g., set root note to `C3` instead of `C4`), "
         "the device will play a sample that is octave **higher** when you hit the `C4` pad.\n"
         "### Why\n"
         "C4 is quite low for many instrument sounds. Most EP instruments compensate by setting their data root "
         "note one octave *lower* (C3). This causes the pads to play the samples one octave *higher*, achieving a "
         "better musical range\n"
         "```To achieve this, set the range and root correctly (as they sound), then transpose everything to -12. "
         "It plays an octave higher on the C4 pads.```";
}

CTransposeDlg::CTransposeDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Shift/Transpose all notes by semitones"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Transpose in semitones (up or down)")));
  auto* row = new QHBoxLayout;
  edit_ = new QLineEdit(valueText);
  higher_ = new QPushButton(QStringLiteral("Play it 1 Octave Higher on EP"));
  up_ = new QPushButton(QStringLiteral("Octave up"));
  down_ = new QPushButton(QStringLiteral("Octave Down"));
  for (QPushButton* b : {higher_, up_, down_}) b->setAutoDefault(false);
  row->addWidget(edit_);
  row->addWidget(higher_);
  row->addWidget(up_);
  row->addWidget(down_);
  layout->addLayout(row);
  help_ = new CMarkdownTextCtrl;
  StyleHelp(help_);
  help_->setMinimumSize(560, 260);
  help_->SetMarkdownText(HelpText());
  layout->addWidget(help_, 1);
  layout->addWidget(OkCancel(this));
  connect(higher_, &QPushButton::clicked, this, [this] { SetValue(QStringLiteral("-12")); });
  connect(down_, &QPushButton::clicked, this, [this] { SetValue(QStringLiteral("-12")); });
  connect(up_, &QPushButton::clicked, this, [this] { SetValue(QStringLiteral("12")); });
}

void CTransposeDlg::SetValue(const QString& text) {
  valueText = text;
  edit_->setText(text);
}

void CTransposeDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (valueText.isEmpty()) valueText = QStringLiteral("0");
  edit_->setText(valueText);
  edit_->selectAll();
  edit_->setFocus();
}

void CTransposeDlg::accept() {
  valueText = edit_->text();
  QDialog::accept();
}

// ---------------------------------------------------- percussive distribution

CSpreadNotesNMDlg::CSpreadNotesNMDlg(const PercussiveChoice& initial, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Distribute Notes"));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  noteLabel_ = new QLabel(QStringLiteral("Start Note"));
  edit_ = new QLineEdit(Q(initial.startNoteText));
  pick_ = new QPushButton(QStringLiteral(".."));
  pick_->setAutoDefault(false);
  pick_->setFixedWidth(32);
  row->addWidget(noteLabel_);
  row->addWidget(edit_);
  row->addWidget(pick_);
  layout->addLayout(row);
  layout->addWidget(
      new QLabel(QStringLiteral("For EP-40, A3 is a good start note, (normally kits on MPC or Maschine start from C2)")));
  layout->addWidget(new QLabel(QStringLiteral("Then put each slice on a pad:")));
  scales_ = new QButtonGroup(this);
  AddRadio(scales_, layout, "Using a Chromatic scale", 0);
  AddRadio(scales_, layout, "Using a C Major Scale (Recomended)", 1);
  AddRadio(scales_, layout, "Using a C Minor Scale", 2);
  AddRadio(scales_, layout, "Using a Major Scale and a Key", 3);
  AddRadio(scales_, layout, "Using a Minor Scale and a Key", 4);
  if (QAbstractButton* b = scales_->button(initial.spreadType)) b->setChecked(true);
  layout->addWidget(OkCancel(this));
  connect(scales_, &QButtonGroup::idClicked, this, [this] { UpdateNoteLabel(); });
  connect(pick_, &QPushButton::clicked, this, [this] { OnPickStartNote(); });
  UpdateNoteLabel();
}

QRadioButton* CSpreadNotesNMDlg::ScaleRadio(int type) const {
  return qobject_cast<QRadioButton*>(scales_->button(type));
}

PercussiveChoice CSpreadNotesNMDlg::Choice() const {
  return {edit_->text().toStdString(), scales_->checkedId() < 0 ? 1 : scales_->checkedId()};
}

void CSpreadNotesNMDlg::UpdateNoteLabel() {
  noteLabel_->setText(scales_->checkedId() > 2 ? QStringLiteral("Key Note") : QStringLiteral("Start Note"));
}

void CSpreadNotesNMDlg::OnPickStartNote() {
  CNoteSelectDlg picker(this);
  picker.lowNote = 0;
  picker.highNote = 128;
  picker.rootNote = ParseNoteName(edit_->text().toStdString());
  picker.selectMode = 2;
  picker.neutralColors = 1;
  if (picker.exec() == QDialog::Accepted && picker.resultNote >= 0 && picker.resultNote <= 127)
    edit_->setText(Q(NoteNameOrDashes(picker.resultNote)));
}

// ------------------------------------------------------ melodic distribution

CSpreadNotesMelodicDlg::CSpreadNotesMelodicDlg(const MelodicChoice& initial, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Distribute (Melodic)"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Root Note")));
  roots_ = new QButtonGroup(this);
  AddRadio(roots_, layout, "Root Notes are already set", 0);
  AddRadio(roots_, layout, "Estimate Root Notes", 1);
  layout->addWidget(new QLabel(QStringLiteral("Distribution")));
  distribution_ = new QButtonGroup(this);
  AddRadio(distribution_, layout, "Center around the Root", 0);
  AddRadio(distribution_, layout, "Sample Downwards from Root (Usually sounds best)", 1);
  AddRadio(distribution_, layout, "Sample Upwards from Root", 2);
  if (QAbstractButton* b = roots_->button(initial.rootNoteCalc)) b->setChecked(true);
  if (QAbstractButton* b = distribution_->button(initial.distribution)) b->setChecked(true);
  layout->addWidget(OkCancel(this));
}

MelodicChoice CSpreadNotesMelodicDlg::Choice() const {
  return {std::max(0, roots_->checkedId()), std::max(0, distribution_->checkedId())};
}

QRadioButton* CSpreadNotesMelodicDlg::RootRadio(int value) const {
  return qobject_cast<QRadioButton*>(roots_->button(value));
}

QRadioButton* CSpreadNotesMelodicDlg::DistributionRadio(int value) const {
  return qobject_cast<QRadioButton*>(distribution_->button(value));
}

// -------------------------------------------------------------- tuning remap

void TuningListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  const int row = index.row();
  if (!rows_ || row < 0 || row >= static_cast<int>(rows_->size())) return;
  const TuningPreset& preset = (*rows_)[row];
  const ListColors colours = kTuningListPalette[TuningGroup(*rows_, row) % 8];
  const bool selected = option.state & QStyle::State_Selected;
  QColor fill;
  QColor text = Qt::black;
  QFont font = option.font;
  if (preset.isCategory) {
    fill = ToQColor(colours.header);
    text = Qt::white;
    font.setBold(true);
  } else if (selected) {
    const auto mix = [](int header, int rowValue) { return static_cast<int>(0.4 * header + 0.6 * rowValue); };
    fill = QColor(mix(RedOf(colours.header), RedOf(colours.row)), mix(GreenOf(colours.header), GreenOf(colours.row)),
                  mix(BlueOf(colours.header), BlueOf(colours.row)));
  } else {
    fill = ToQColor(colours.row);
  }
  painter->save();
  painter->fillRect(option.rect, fill);
  painter->setFont(font);
  painter->setPen(text);
  const QRect textRect = option.rect.adjusted(6, 0, 0, 0);
  painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                    Q(preset.name));
  if (!preset.isCategory && (option.state & QStyle::State_HasFocus)) {
    QStyleOptionFocusRect focus;
    focus.rect = option.rect;
    focus.state = option.state;
    focus.backgroundColor = fill;
    QApplication::style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter);
  }
  painter->restore();
}

QSize TuningListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
}

void MappingTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  const QStringList cells = index.data(kCellsRole).toStringList();
  const bool header = index.data(kHeaderRole).toBool();
  const bool selected = !header && (option.state & QStyle::State_Selected);
  const QColor grid(220, 220, 220);
  painter->save();
  QFont font = option.font;
  QColor text = Qt::black;
  if (header) {
    painter->fillRect(option.rect, QColor(54, 80, 110));
    text = Qt::white;
    font.setBold(true);
  } else if (selected) {
    painter->fillRect(option.rect, option.palette.color(QPalette::Highlight));
    text = option.palette.color(QPalette::HighlightedText);
  } else {
    painter->fillRect(option.rect, index.row() % 2 ? QColor(248, 248, 252) : QColor(Qt::white));
  }
  painter->setFont(font);
  int x = option.rect.left();
  for (size_t c = 0; c < kMappingColumns.size() && x < option.rect.right(); ++c) {
    const QRect cell(x, option.rect.top(), kMappingColumns[c].width, option.rect.height());
    const int align = kMappingColumns[c].alignment;
    const Qt::Alignment h = align == 1 ? Qt::AlignHCenter : align == 2 ? Qt::AlignRight : Qt::AlignLeft;
    const QRect inner = cell.adjusted(4, 0, -4, 0);
    const QString value = c < static_cast<size_t>(cells.size()) ? cells[static_cast<int>(c)] : QString();
    painter->setPen(text);
    painter->drawText(inner, h | Qt::AlignVCenter | Qt::TextSingleLine,
                      painter->fontMetrics().elidedText(value, Qt::ElideRight, inner.width()));
    if (!header && !selected) {
      painter->setPen(grid);
      painter->drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
    }
    x += kMappingColumns[c].width;
  }
  painter->setPen(grid);
  painter->drawLine(option.rect.left(), option.rect.bottom(), option.rect.right(), option.rect.bottom());
  if (!header && (option.state & QStyle::State_HasFocus)) {
    QStyleOptionFocusRect focus;
    focus.rect = option.rect;
    focus.state = option.state;
    QApplication::style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter);
  }
  painter->restore();
}

QSize MappingTableDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  int width = 0;
  for (const TableColumn& c : kMappingColumns) width += c.width;
  return {width, kItemHeight};
}

CNon12TETRemapDlg::CNon12TETRemapDlg(const std::vector<Region>& regions, QWidget* parent)
    : QDialog(parent), model_(regions) {
  setWindowTitle(QStringLiteral("Micro Tonal, Historic and World Tuning"));
  auto* layout = new QGridLayout(this);
  regions_ = new QLineEdit;
  baseOctave_ = new QLineEdit;
  quality_ = new QLineEdit;
  for (QLineEdit* e : {regions_, baseOctave_, quality_}) e->setReadOnly(true);
  layout->addWidget(new QLabel(QStringLiteral("Current Regions:")), 0, 0);
  layout->addWidget(regions_, 0, 1);
  layout->addWidget(new QLabel(QStringLiteral("Base Octave:")), 0, 2);
  layout->addWidget(baseOctave_, 0, 3);
  layout->addWidget(new QLabel(QStringLiteral(
                        "A museum-quality collection of tuning systems spanning 2500+ years of music history")),
                    1, 0, 1, 4);

  const QFont font = TableFont();
  tunings_ = new QListWidget;
  tunings_->setFont(font);
  tunings_->setItemDelegate(new TuningListDelegate(&model_.Presets(), tunings_));
  tunings_->setUniformItemSizes(true);
  for (const TuningPreset& preset : model_.Presets()) tunings_->addItem(Q(preset.name));
  layout->addWidget(tunings_, 2, 0, 2, 2);

  description_ = new QPlainTextEdit;
  description_->setReadOnly(true);
  layout->addWidget(description_, 2, 2, 1, 2);
  help_ = new CMarkdownTextCtrl;
  StyleHelp(help_);
  help_->SetMarkdownText(TuningRemapHelpText());
  help_->setMinimumHeight(180);
  layout->addWidget(help_, 3, 2, 1, 2);

  table_ = new QListWidget;
  table_->setFont(font);
  table_->setItemDelegate(new MappingTableDelegate(table_));
  table_->setUniformItemSizes(true);
  int tableWidth = 0;
  for (const TableColumn& c : kMappingColumns) tableWidth += c.width;
  table_->setMinimumWidth(tableWidth + 24);
  table_->setMinimumHeight(kItemHeight * 9 + 8);
  layout->addWidget(table_, 4, 0, 1, 4);
  layout->addWidget(quality_, 5, 0, 1, 4);
  auditionFlute_ = new QCheckBox(QStringLiteral("Audition using Valdro Flute Synth"));
  auditionScale_ = new QCheckBox(QStringLiteral("Audition Scale"));
  auto* auditions = new QHBoxLayout;
  auditions->addWidget(auditionFlute_);
  auditions->addWidget(auditionScale_);
  auditions->addStretch(1);
  layout->addLayout(auditions, 6, 0, 1, 2);
  // clicked, not toggled: switching the other box off from code must not
  // count as the user's click.
  connect(auditionFlute_, &QCheckBox::clicked, this, [this] { OnAuditionFluteClicked(); });
  connect(auditionScale_, &QCheckBox::clicked, this, [this] { OnAuditionScaleClicked(); });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  process_ = buttons->button(QDialogButtonBox::Ok);
  process_->setText(QStringLiteral("Process"));
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnProcess(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons, 6, 2, 1, 2);
  layout->setColumnStretch(1, 1);
  layout->setColumnStretch(3, 1);
  layout->setRowStretch(2, 1);
  resize(900, 860);

  regions_->setText(Q(model_.RegionsText()));
  baseOctave_->setText(Q(model_.BaseOctaveText()));
  settling_ = true;
  tunings_->setCurrentRow(model_.Selection());
  settling_ = false;
  connect(tunings_, &QListWidget::currentRowChanged, this, [this](int row) { OnSelChangeTuningList(row); });
  // A click on a header selects it after the current row has already moved
  // on to the tuning below: a header never keeps the highlight, which goes
  // to the current row.
  connect(tunings_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (settling_) return;
    const std::vector<TuningPreset>& rows = model_.Presets();
    const auto isHeader = [&rows](int row) {
      return row >= 0 && row < static_cast<int>(rows.size()) && rows[static_cast<size_t>(row)].isCategory;
    };
    const int current = tunings_->currentRow();
    if (current < 0 || isHeader(current)) return;
    const QList<QListWidgetItem*> selected = tunings_->selectedItems();
    if (std::none_of(selected.begin(), selected.end(),
                     [&](QListWidgetItem* item) { return isHeader(tunings_->row(item)); }))
      return;
    settling_ = true;
    tunings_->selectionModel()->select(tunings_->model()->index(current, 0), QItemSelectionModel::ClearAndSelect);
    settling_ = false;
  });
  FillMappingTable();
  RefreshTexts();
}

void CNon12TETRemapDlg::OnSelChangeTuningList(int row) {
  if (settling_ || row < 0) return;
  const int settled = model_.Select(row);
  if (settled != row) {
    settling_ = true;
    if (settled < 0) {
      tunings_->setCurrentRow(-1);
      tunings_->clearSelection();
    } else {
      tunings_->setCurrentRow(settled);
    }
    settling_ = false;
    if (settled < 0) return;
  }
  FillMappingTable();
  RefreshTexts();
  table_->viewport()->update();
  if (auditionFlute_->isChecked() || auditionScale_->isChecked()) StartPreview();
}

CNon12TETRemapDlg::~CNon12TETRemapDlg() { StopPreview(); }

void CNon12TETRemapDlg::OnAuditionFluteClicked() {
  if (auditionFlute_->isChecked()) {
    auditionScale_->setChecked(false);
    if (model_.Selection() >= 0) StartPreview();
  } else if (preview_ && !preview_->Finished()) {
    StopPreview();
  }
}

void CNon12TETRemapDlg::OnAuditionScaleClicked() {
  if (auditionScale_->isChecked()) {
    auditionFlute_->setChecked(false);
    if (model_.Selection() >= 0) StartPreview();
  } else if (preview_ && !preview_->Finished()) {
    StopPreview();
  }
}

void CNon12TETRemapDlg::StartPreview() {
  StopPreview();
  const int32_t row = model_.Selection();
  if (row < 0 || row >= static_cast<int32_t>(model_.Presets().size())) return;
  const std::array<float, 8>& cents = model_.Presets()[static_cast<size_t>(row)].padCents;
  // The buffer is rendered before the source exists, so the output never
  // reads a buffer being written.
  const PreviewNoteRenderer flute = FlutePreviewRenderer(fluteState_);
  std::vector<int16_t> buffer =
      auditionScale_->isChecked() ? RenderScalePreview(cents, flute) : RenderDemoPreview(cents, flute);
  if (buffer.empty()) return;
  auto source = std::make_shared<PcmPreviewSource>(std::move(buffer), kPreviewRate, kPreviewChannels, false);
  if (JoinOrReport(source)) preview_ = std::move(source);
}

void CNon12TETRemapDlg::StopPreview() {
  if (!preview_) return;
  CurrentAudioOutput().Leave(preview_.get());
  preview_.reset();
}

void CNon12TETRemapDlg::FillMappingTable() {
  table_->clear();
  auto add = [this](const QStringList& cells, bool header) {
    auto* item = new QListWidgetItem(QString());
    item->setData(kCellsRole, cells);
    item->setData(kHeaderRole, header);
    if (header) item->setFlags(Qt::ItemIsEnabled);
    table_->addItem(item);
  };
  QStringList header;
  for (const char* h : kMappingHeader) header << QString::fromUtf8(h);
  add(header, true);
  for (const PadMapping& row : model_.Plan()) {
    QStringList cells;
    for (const std::string& cell : MappingRowCells(row)) cells << Q(cell);
    add(cells, false);
  }
}

void CNon12TETRemapDlg::RefreshTexts() {
  description_->setPlainText(Q(model_.Description()));
  quality_->setText(Q(model_.QualityText()));
}

void CNon12TETRemapDlg::OnProcess() {
  if (const std::optional<std::string> refusal = model_.ProcessRefusal()) {
    ShowMessage(*refusal);
    return;
  }
  if (AskYesNo(model_.ProcessQuestion(), MessageIcon::Question)) accept();
}

// ------------------------------------------------------------------ running

std::optional<std::string> QtNoteDialogs::AskTranspose() {
  CTransposeDlg dialog(parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.valueText.toStdString();
}

std::optional<PercussiveChoice> QtNoteDialogs::AskPercussive(const PercussiveChoice& initial) {
  CSpreadNotesNMDlg dialog(initial, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

std::optional<MelodicChoice> QtNoteDialogs::AskMelodic(const MelodicChoice& initial) {
  CSpreadNotesMelodicDlg dialog(initial, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

std::optional<RemapChoice> QtNoteDialogs::AskTuningRemap(const std::vector<Region>& regions) {
  if (const std::optional<std::string> refusal = TuningRemapModel::OpenRefusal(&regions)) {
    ShowMessage(*refusal);
    return std::nullopt;
  }
  CNon12TETRemapDlg dialog(regions, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

}  // namespace zandrel
