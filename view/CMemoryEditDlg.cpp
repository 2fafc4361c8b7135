#include "view/CMemoryEditDlg.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "base/DisplayText.h"
#include "image/CSaveFileDlg.h"
#include "image/CSaveProgressDlg.h"
#include "image/CTransferDlg.h"
#include "settings/CHighlightListCtrl.h"
#include "view/CEditorInputDlgs.h"

namespace vrx4 {

int editorByteColumnWidth(bool japanese) { return japanese ? 30 : 24; }

namespace {

constexpr uint32_t kScrollSteps[6] = {kScrollLarge, kScrollMedium, kScrollSmall,
                                      kScrollSmall, kScrollMedium, kScrollLarge};

// One, two or three stacked arrow heads pointing up or down: the more
// heads, the larger the step.
QIcon arrowIcon(int heads, bool up, const QColor& colour) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  const int h = 4;
  const int total = heads * h + (heads - 1);
  int y = (16 - total) / 2;
  for (int i = 0; i < heads; ++i, y += h + 1) {
    QPainterPath tri;
    if (up) {
      tri.moveTo(8, y);
      tri.lineTo(14, y + h);
      tri.lineTo(2, y + h);
    } else {
      tri.moveTo(2, y);
      tri.lineTo(14, y);
      tri.lineTo(8, y + h);
    }
    tri.closeSubpath();
    p.drawPath(tri);
  }
  return QIcon(pm);
}

QLineEdit* infoRow(QGridLayout* grid, QWidget* parent, const QString& label, const QString& name, const QString& text) {
  const int row = grid->rowCount();
  grid->addWidget(new QLabel(label, parent), row, 0);
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(name);
  e->setReadOnly(true);
  e->setFocusPolicy(Qt::NoFocus);
  grid->addWidget(e, row, 1);
  return e;
}

}  // namespace

CMemoryEditDlg::CMemoryEditDlg(AppState& app, const EditorRequest& request, QWidget* parent)
    : QDialog(parent), app_(app) {
  setWindowTitle(QStringLiteral("Edit"));
  editor_ = std::make_unique<MemoryEditor>(request.area, app.settings, *app.image, request.saveEnabled);

  QGroupBox* info = buildInformation(request);
  buildDumpList();
  QVBoxLayout* arrows = buildScrollArrows();
  QVBoxLayout* buttons = buildButtons();

  auto* body = new QHBoxLayout;
  body->addWidget(list_, 1);
  body->addLayout(arrows);
  body->addLayout(buttons);
  auto* top = new QVBoxLayout(this);
  top->addWidget(info);
  top->addLayout(body, 1);

  save_->setEnabled(editor_->saveButtonEnabled());
  list_->viewport()->installEventFilter(this);
  refill();
}

QGroupBox* CMemoryEditDlg::buildInformation(const EditorRequest& request) {
  auto* info = new QGroupBox(QStringLiteral("Information"), this);
  auto* grid = new QGridLayout(info);
  infoRow(grid, info, QStringLiteral("Device Type :"), QStringLiteral("deviceType"),
          QString::fromStdString(displayText(request.deviceType)));
  programFile_ = infoRow(grid, info, QStringLiteral("Program File :"), QStringLiteral("programFile"),
                         QString::fromStdString(displayText(editor_->programFile())));
  infoRow(grid, info, QStringLiteral("Rom Area :"), QStringLiteral("romArea"), QString::fromStdString(request.romArea));
  infoRow(grid, info, QStringLiteral("Address :"), QStringLiteral("address"), QString::fromStdString(request.address));
  return info;
}

void CMemoryEditDlg::buildDumpList() {
  list_ = new CHighlightListCtrl(this);
  list_->setObjectName(QStringLiteral("dump"));
  list_->setOwnerDraw(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const bool japanese = QLocale::system().language() == QLocale::Japanese;
  QStringList titles{QStringLiteral("Address")};
  for (int n = 0; n < 16; ++n) titles << QString::asprintf(" %X", n);
  titles << QStringLiteral("ASCII");
  list_->setColumnCount(18);
  list_->setHeaderLabels(titles);
  list_->header()->setSectionResizeMode(QHeaderView::Fixed);
  list_->header()->setMinimumSectionSize(1);
  list_->setColumnWidth(0, 55);
  for (int n = 1; n <= 16; ++n) list_->setColumnWidth(n, editorByteColumnWidth(japanese));
  list_->setColumnWidth(17, 200);
  int width = 0;
  for (int n = 0; n < 18; ++n) width += list_->columnWidth(n);
  list_->setMinimumWidth(width + 2 * list_->frameWidth());
  // Sixteen rows at least: 256 bytes, the smallest scroll step.
  list_->setMinimumHeight(16 * qMax(16, list_->fontMetrics().height() + 2) + list_->header()->sizeHint().height() +
                          2 * list_->frameWidth() + 4);
}

QVBoxLayout* CMemoryEditDlg::buildScrollArrows() {
  auto* arrows = new QVBoxLayout;
  const QColor ink = palette().color(QPalette::ButtonText);
  for (int i = 0; i < 6; ++i) {
    const bool up = i < 3;
    const int heads = up ? 3 - i : i - 2;
    auto* b = new QPushButton(this);
    b->setObjectName(QStringLiteral("scroll%1").arg(i));
    b->setIcon(arrowIcon(heads, up, ink));
    b->setFixedSize(28, 24);
    b->setAutoDefault(false);
    b->setToolTip(QString::asprintf("%s 0x%X", up ? "Up" : "Down", unsigned(kScrollSteps[i])));
    connect(b, &QPushButton::clicked, this, [this, i] { onScroll(i); });
    if (i == 3) arrows->addStretch(1);
    arrows->addWidget(b);
  }
  return arrows;
}

QVBoxLayout* CMemoryEditDlg::buildButtons() {
  auto* buttons = new QVBoxLayout;
  const auto addButton = [&](const QString& text, const QString& name, void (CMemoryEditDlg::*slot)()) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, slot);
    buttons->addWidget(b);
    return b;
  };
  addButton(QStringLiteral("Address"), QStringLiteral("addressButton"), &CMemoryEditDlg::onAddress);
  addButton(QStringLiteral("Modify"), QStringLiteral("modify"), &CMemoryEditDlg::onModify);
  addButton(QStringLiteral("Clear"), QStringLiteral("clear"), &CMemoryEditDlg::onClear);
  save_ = addButton(QStringLiteral("Save"), QStringLiteral("save"), &CMemoryEditDlg::onSave);
  buttons->addStretch(1);
  addButton(QStringLiteral("OK"), QStringLiteral("ok"), &CMemoryEditDlg::accept);
  addButton(QStringLiteral("Cancel"), QStringLiteral("cancel"), &CMemoryEditDlg::reject);
  return buttons;
}

CMemoryEditDlg::~CMemoryEditDlg() = default;

QPushButton* CMemoryEditDlg::button(const QString& name) const { return findChild<QPushButton*>(name); }
QLineEdit* CMemoryEditDlg::infoField(const QString& name) const { return findChild<QLineEdit*>(name); }

int CMemoryEditDlg::rowsThatFit() const {
  const int rowHeight = qMax(16, list_->fontMetrics().height() + 2);
  return qMax(1, list_->viewport()->height() / rowHeight);
}

void CMemoryEditDlg::refill() {
  const int fit = rowsThatFit();
  shownRows_ = fit;
  list_->changedAddresses = editor_->changedAddresses();
  const std::vector<EditorRow> rows = editor_->rows(fit);
  list_->setUpdatesEnabled(false);
  // Items are kept and their texts replaced: at most a screenful exists.
  while (list_->topLevelItemCount() > int(rows.size())) delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
  while (list_->topLevelItemCount() < int(rows.size())) new QTreeWidgetItem(list_);
  for (size_t r = 0; r < rows.size(); ++r) {
    QTreeWidgetItem* it = list_->topLevelItem(int(r));
    it->setText(0, QString::fromStdString(rows[r].addressText()));
    for (int n = 0; n < 16; ++n) it->setText(n + 1, QString::fromStdString(rows[r].byteText(n)));
    it->setText(17, QString::fromStdString(rows[r].asciiText()));
  }
  list_->setUpdatesEnabled(true);
  list_->viewport()->update();
  programFile_->setText(QString::fromStdString(displayText(editor_->programFile())));
  save_->setEnabled(editor_->saveButtonEnabled());
}

bool CMemoryEditDlg::eventFilter(QObject* watched, QEvent* e) {
  // The list's own size decides how many rows are made.
  // The check runs once the layout has settled: the viewport can be resized
  // more than once on the way.
  if (watched == list_->viewport() && e->type() == QEvent::Resize)
    QTimer::singleShot(0, this, [this] {
      if (rowsThatFit() != shownRows_) refill();
    });
  return QDialog::eventFilter(watched, e);
}

void CMemoryEditDlg::onScroll(int index) {
  if (index < 0 || index > 5) return;
  if (index < 3)
    editor_->scrollUp(kScrollSteps[index]);
  else
    editor_->scrollDown(kScrollSteps[index]);
  refill();
}

void CMemoryEditDlg::onAddress() {
  CAddressInputDlg dlg(editor_->areaStart(), editor_->areaEnd(), this);
  if (dlg.exec() != QDialog::Accepted) return;
  editor_->jumpTo(dlg.address());
  refill();
}

void CMemoryEditDlg::onModify() {
  CDataInputDlg dlg(editor_->areaStart(), editor_->areaEnd(), editor_->currentAddress(), this);
  if (dlg.exec() != QDialog::Accepted) return;
  editor_->modify(dlg.address(), dlg.data());
  refill();
}

void CMemoryEditDlg::onClear() {
  CMemoryClearDlg dlg(editor_->isBoot(), app_.settings.device.blockCount, this);
  if (dlg.exec() != QDialog::Accepted) return;
  editor_->clear(dlg.blocks(), dlg.data(), app_.settings.device);
  refill();
}

EditorSeam CMemoryEditDlg::seam() {
  EditorSeam s;
  s.save = [this](const uint8_t* work, int32_t start, int32_t end) -> std::optional<std::string> {
    const SaveArea area = editor_->isBoot() ? SaveArea::Boot : SaveArea::User;
    CSaveFileDlg files(area, start, end, QString::fromStdString(app_.dialogPaths.slot(kDataSaveFolderSlot)), this);
    if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty()) return std::nullopt;
    const QString chosen = files.selectedFiles().first();
    SaveRequest request;
    request.image = work;
    request.areaStart = start;
    request.areaEnd = end;
    request.ranges = files.ranges();
    request.path = chosen.toStdString();
    CSaveProgressDlg progress(request, this);
    progress.exec();
    // Esc still completes the file; only a file that was not written is
    // no save.
    if (progress.saveResult() != SaveResult::Ok) return std::nullopt;
    (void)app_.dialogPaths.setSlot(kDataSaveFolderSlot, programFolder(request.path));
    return request.path;
  };
  s.send = [this](ImageArea area) {
    CSendImageDlg dlg(area, *app_.image, app_.settings, {}, this);
    return dlg.exec() == QDialog::Accepted;
  };
  return s;
}

void CMemoryEditDlg::onSave() {
  editor_->save(seam());
  refill();
}

void CMemoryEditDlg::accept() {
  switch (editor_->accept(app_.settings, *app_.image, seam())) {
    case MemoryEditor::Close::Stay:
      refill();
      return;
    case MemoryEditor::Close::Ok:
      QDialog::accept();
      return;
    case MemoryEditor::Close::Cancel:
      QDialog::reject();
      return;
  }
}

void CMemoryEditDlg::reject() {
  editor_->cancel(app_.settings);
  QDialog::reject();
}

EditorOutcome runMemoryEditor(AppState& app, const EditorRequest& request, QWidget* parent) {
  CMemoryEditDlg dlg(app, request, parent);
  EditorOutcome out;
  out.ok = dlg.exec() == QDialog::Accepted;
  out.uploadFailed = dlg.uploadFailed();
  return out;
}

}  // namespace vrx4
