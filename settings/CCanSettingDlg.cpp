#include "settings/CCanSettingDlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/Prompter.h"
#include "link/Commands.h"
#include "settings/CDropDownList.h"

namespace vrx4 {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& t) { return t.toStdString(); }

QLineEdit* smallEdit(QWidget* parent, int chars, const QString& name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setAlignment(Qt::AlignCenter);
  e->setFixedWidth(e->fontMetrics().horizontalAdvance(QString(chars, QChar('W'))) + 12);
  return e;
}

// Shows a refusal and puts its replacement text in the field, selected whole.
void refuse(QLineEdit* edit, const FieldRejection& r) {
  showMessage(r.message, r.icon);
  edit->setText(q(r.replacement));  // checked again in turn
  edit->selectAll();
}

}  // namespace

CCanSettingDlg::CCanSettingDlg(CanSetting& setting, QWidget* parent) : QDialog(parent), setting_(setting) {
  setWindowTitle("CAN Setting");
  auto* top = new QVBoxLayout(this);
  buildBaudrateGroup(top);
  buildSendFrameGroup(top);
  buildPulseGroup(top);
  buildButtons(top);
  bindControls();
  startFromRecord();
}

void CCanSettingDlg::buildBaudrateGroup(QVBoxLayout* top) {
  auto* baudBox = new QGroupBox(" Baudrate ", this);
  auto* baudLayout = new QHBoxLayout(baudBox);
  baudrate_ = new CDropDownList(baudBox);
  baudrate_->setObjectName("baudrate");
  samplePoint_ = new CDropDownList(baudBox);
  samplePoint_->setObjectName("samplePoint");
  baudLayout->addWidget(new QLabel("Baudrate", baudBox));
  baudLayout->addWidget(baudrate_);
  baudLayout->addWidget(new QLabel("Kbps", baudBox));
  baudLayout->addSpacing(24);
  baudLayout->addWidget(new QLabel("Sample Point", baudBox));
  baudLayout->addWidget(samplePoint_);
  baudLayout->addWidget(new QLabel("%", baudBox));
  baudLayout->addStretch(1);
  top->addWidget(baudBox);
}

void CCanSettingDlg::buildSendFrameGroup(QVBoxLayout* top) {
  auto* frameBox = new QGroupBox(" Send Frame ", this);
  auto* frameLayout = new QVBoxLayout(frameBox);
  useSendFrame_ = new QCheckBox("Use Send Frame", frameBox);
  useSendFrame_->setObjectName("useSendFrame");
  frameLayout->addWidget(useSendFrame_);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(3);
  QStringList captions{"Format", "Type", "SID", "EID", "Dlc"};
  for (int i = 0; i < 8; ++i) captions << QString("D%1").arg(i);
  for (int c = 0; c < captions.size(); ++c) {
    auto* l = new QLabel(captions[c], frameBox);
    l->setAlignment(Qt::AlignCenter);
    columnCaptions_ << l;
    grid->addWidget(l, 0, c + 1);
  }
  for (int r = 0; r < 2; ++r) {
    buildFrameRow(grid, frameBox, r);
    bindFrameRow(r);
  }
  frameLayout->addLayout(grid);
  top->addWidget(frameBox);
}

void CCanSettingDlg::buildFrameRow(QGridLayout* grid, QWidget* frameBox, int r) {
  static const char* const rowCaptions[2] = {"Pre Sending", "Post Sending"};
  FrameRow& row = rows_[r];
  const QString n = QString::number(r);
  row.caption = new QLabel(rowCaptions[r], frameBox);
  row.format = new CDropDownList(frameBox);
  row.format->setObjectName("format" + n);
  row.format->addItems({"Std", "Ext"});
  row.type = new CDropDownList(frameBox);
  row.type->setObjectName("type" + n);
  row.type->addItems({"Data", "Remote"});
  row.sid = smallEdit(frameBox, 3, "sid" + n);
  row.eid = smallEdit(frameBox, 5, "eid" + n);
  row.dlc = smallEdit(frameBox, 1, "dlc" + n);
  grid->addWidget(row.caption, r + 1, 0);
  grid->addWidget(row.format, r + 1, 1);
  grid->addWidget(row.type, r + 1, 2);
  grid->addWidget(row.sid, r + 1, 3);
  grid->addWidget(row.eid, r + 1, 4);
  grid->addWidget(row.dlc, r + 1, 5);
  for (int i = 0; i < 8; ++i) {
    row.data[i] = smallEdit(frameBox, 2, QString("d%1_%2").arg(r).arg(i));
    grid->addWidget(row.data[i], r + 1, 6 + i);
  }
}

void CCanSettingDlg::bindFrameRow(int r) {
  FrameRow& row = rows_[r];
  connect(row.format, &QComboBox::currentIndexChanged, this, [this, r] { applyEidRule(rows_[r]); });
  connect(row.type, &QComboBox::currentIndexChanged, this, [this, r] { applyDlcAndDataRule(rows_[r]); });
  connect(row.sid, &QLineEdit::textChanged, this,
          [this, r] { checkFrameField(rows_[r].sid, CanField::Sid, &rows_[r]); });
  connect(row.eid, &QLineEdit::textChanged, this,
          [this, r] { checkFrameField(rows_[r].eid, CanField::Eid, &rows_[r]); });
  connect(row.dlc, &QLineEdit::textChanged, this,
          [this, r] { checkFrameField(rows_[r].dlc, CanField::Dlc, &rows_[r]); });
  for (int i = 0; i < 8; ++i)
    connect(row.data[i], &QLineEdit::textChanged, this,
            [this, r, i] { checkFrameField(rows_[r].data[i], CanField::Data, &rows_[r]); });
}

void CCanSettingDlg::buildPulseGroup(QVBoxLayout* top) {
  auto* pulseBox = new QGroupBox("Pulse Output", this);
  auto* pulseLayout = new QHBoxLayout(pulseBox);
  usePulse_ = new QCheckBox("Use Pulse Output", pulseBox);
  usePulse_->setObjectName("usePulse");
  pulseCaption_ = new QLabel("Pulse Cycle :", pulseBox);
  pulseCycle_ = smallEdit(pulseBox, 5, "pulseCycle");
  pulseCycle_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* arrows = new QVBoxLayout;
  arrows->setSpacing(0);
  pulseUp_ = new QToolButton(pulseBox);
  pulseUp_->setObjectName("pulseUp");
  pulseUp_->setArrowType(Qt::UpArrow);
  pulseDown_ = new QToolButton(pulseBox);
  pulseDown_->setObjectName("pulseDown");
  pulseDown_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {pulseUp_, pulseDown_}) {
    b->setAutoRepeat(true);
    b->setFixedSize(16, 11);
    arrows->addWidget(b);
  }
  pulseNote_ = new QLabel("(1 - 1000 ms)", pulseBox);
  pulseLayout->addWidget(usePulse_);
  pulseLayout->addSpacing(24);
  pulseLayout->addWidget(pulseCaption_);
  pulseLayout->addWidget(pulseCycle_);
  pulseLayout->addLayout(arrows);
  pulseLayout->addWidget(pulseNote_);
  pulseLayout->addStretch(1);
  top->addWidget(pulseBox);
}

void CCanSettingDlg::buildButtons(QVBoxLayout* top) {
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("cancel");
  auto* defaults = new QPushButton("Default", this);
  defaults->setObjectName("default");
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(defaults);
  top->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, &CCanSettingDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CCanSettingDlg::reject);
  connect(defaults, &QPushButton::clicked, this, &CCanSettingDlg::onDefault);
}

void CCanSettingDlg::bindControls() {
  connect(baudrate_, &QComboBox::currentIndexChanged, this, [this](int row) {
    rebuildSamplePoints(row);
    samplePoint_->setCurrentIndex(0);
  });
  connect(useSendFrame_, &QCheckBox::toggled, this, [this] { applyAllRules(); });
  connect(usePulse_, &QCheckBox::toggled, this, [this] { applyPulseRule(); });
  connect(pulseCycle_, &QLineEdit::textChanged, this, [this] { checkPulse(); });
  connect(pulseUp_, &QToolButton::clicked, this, [this] { stepPulse(+1); });
  connect(pulseDown_, &QToolButton::clicked, this, [this] { stepPulse(-1); });
}

void CCanSettingDlg::startFromRecord() {
  // The table rows, the record's values, then the checks.
  for (int r = 0; r < kCanTimingRows; ++r)
    baudrate_->addItem(QString::asprintf("%.1f", double(float(CanBitTimingTable[r][0].baudKbps))));
  const CanTimingIndex at = findTimingByValue(setting_.baudKbps, setting_.samplePointPct);
  fill(canDialogValues(setting_, at));
  armed_ = true;
}

void CCanSettingDlg::rebuildSamplePoints(int row) {
  samplePoint_->blockSignals(true);
  samplePoint_->clear();
  for (int k = 0; k < canTimingEntryCount(row); ++k)
    samplePoint_->addItem(QString::number(CanBitTimingTable[row][k].samplePointPct));
  samplePoint_->blockSignals(false);
}

void CCanSettingDlg::fill(const CanDialogValues& v) {
  const bool wasArmed = armed_;
  armed_ = false;  // changes made while filling are not checked
  baudrate_->setCurrentIndex(v.timing.row);
  rebuildSamplePoints(v.timing.row);
  samplePoint_->setCurrentIndex(v.timing.entry);
  useSendFrame_->setChecked(v.useSendFrame);
  for (int r = 0; r < 2; ++r) {
    const CanFrameTexts& t = v.frames[r];
    FrameRow& row = rows_[r];
    row.format->setCurrentIndex(t.formatIndex);
    row.type->setCurrentIndex(t.typeIndex);
    row.sid->setText(q(t.sid));
    row.eid->setText(q(t.eid));
    row.dlc->setText(q(t.dlc));
    row.dataFields = t.dataFields;
    for (int i = 0; i < 8; ++i) row.data[i]->setText(q(t.data[i]));
  }
  usePulse_->setChecked(v.usePulse);
  pulseCycle_->setText(q(v.pulseText));
  pulsePosition_ = v.usePulse ? int(std::clamp<int64_t>(pulseCycleNumber(v.pulseText).value_or(100), 1, 1000)) : 100;
  applyAllRules();
  applyPulseRule();
  armed_ = wasArmed;
}

CanDialogValues CCanSettingDlg::values() const {
  CanDialogValues v;
  v.timing = {baudrate_->currentIndex(), samplePoint_->currentIndex()};
  v.useSendFrame = useSendFrame_->isChecked();
  for (int r = 0; r < 2; ++r) {
    const FrameRow& row = rows_[r];
    CanFrameTexts& t = v.frames[r];
    t.formatIndex = qMax(0, row.format->currentIndex());
    t.typeIndex = qMax(0, row.type->currentIndex());
    t.sid = s(row.sid->text());
    t.eid = s(row.eid->text());
    t.dlc = s(row.dlc->text());
    for (int i = 0; i < 8; ++i) t.data[i] = s(row.data[i]->text());
  }
  v.usePulse = usePulse_->isChecked();
  v.pulseText = s(pulseCycle_->text());
  return v;
}

void CCanSettingDlg::applyAllRules() {
  const bool on = useSendFrame_->isChecked();
  for (QLabel* l : columnCaptions_) l->setEnabled(on);
  for (FrameRow& row : rows_) {
    row.caption->setEnabled(on);
    row.format->setEnabled(on);
    row.type->setEnabled(on);
    row.sid->setEnabled(on);
    applyEidRule(row);
    applyDlcAndDataRule(row);
  }
}

void CCanSettingDlg::applyEidRule(FrameRow& row) {
  row.eid->setEnabled(useSendFrame_->isChecked() && row.format->currentIndex() == 1);
}

void CCanSettingDlg::applyDlcAndDataRule(FrameRow& row) {
  row.dlc->setEnabled(useSendFrame_->isChecked() && row.type->currentIndex() == 0);
  applyDataRule(row);
}

void CCanSettingDlg::applyDataRule(FrameRow& row) {
  const bool on = useSendFrame_->isChecked() && row.type->currentIndex() == 0;
  for (int i = 0; i < 8; ++i) row.data[i]->setEnabled(on && i < row.dataFields);
}

void CCanSettingDlg::applyPulseRule() {
  const bool on = usePulse_->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{pulseCaption_, pulseCycle_, pulseUp_, pulseDown_, pulseNote_})
    w->setEnabled(on);
}

void CCanSettingDlg::checkFrameField(QLineEdit* edit, CanField field, FrameRow* row) {
  if (!armed_) return;
  const std::string text = s(edit->text());
  if (auto r = checkCanFrameField(field, text)) {
    refuse(edit, *r);
    return;
  }
  // A valid Dlc re-applies the data rule of its row.
  if (field == CanField::Dlc && !text.empty()) {
    row->dataFields = canDlcValue(text);
    applyDataRule(*row);
  }
}

void CCanSettingDlg::checkPulse() {
  if (!armed_) return;
  const std::string text = s(pulseCycle_->text());
  if (auto r = checkPulseCycle(text)) {
    refuse(pulseCycle_, *r);
    return;
  }
  if (auto v = pulseCycleNumber(text)) pulsePosition_ = int(*v);
}

void CCanSettingDlg::stepPulse(int step) {
  // Like arrows tied to their text field: they start from the value shown.
  const auto shown = pulseCycleNumber(s(pulseCycle_->text()));
  if (shown && *shown >= 1 && *shown <= 1000) pulsePosition_ = int(*shown);
  pulsePosition_ = stepPulseCycle(pulsePosition_, step);
  pulseCycle_->setText(QString::number(pulsePosition_));
}

void CCanSettingDlg::onDefault() { fill(defaultCanDialogValues()); }

void CCanSettingDlg::accept() {
  const CanSetting rebuilt = buildCanSetting(values());
  setting_ = rebuilt;
  // A failed send has been reported by the exchange; the record keeps the
  // new values and the dialog closes all the same.
  (void)setCanSetting(setting_);
  QDialog::accept();
}

}  // namespace vrx4
