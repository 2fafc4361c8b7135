#include "view/CMainView.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>

#include "app/AppState.h"
#include "app/CUnitDialogs.h"
#include "app/UnitCheck.h"
#include "base/DisplayText.h"
#include "link/Commands.h"
#include "settings/CDropDownList.h"
#include "view/CMainFrame.h"
#include "view/CMainViewDialogs.h"
#include "view/MainViewCommands.h"
#include "view/MainViewModel.h"

namespace vrx4 {

namespace {

// Every text of the form as it is shown: names and versions that come from
// the unit, a project or the table show their control characters escaped.
QString q(const std::string& s) { return QString::fromStdString(displayText(s)); }

void applyControl(QWidget* w, const ControlState& c) {
  w->setEnabled(c.enabled);
  w->setVisible(c.visible);
}

void applyField(QLineEdit* e, const ControlState& c) {
  if (e->text() != q(c.text)) e->setText(q(c.text));
  e->setCursorPosition(0);  // long texts show their start
  applyControl(e, c);
}

}  // namespace

CMainView::CMainView(AppState& state, QWidget* parent)
    : QWidget(parent),
      state_(state),
      dialogs_(std::make_unique<CMainViewDialogs>(this)),
      model_(std::make_unique<MainViewModel>(state, *dialogs_)) {
  setObjectName(QStringLiteral("mainView"));
  setAutoFillBackground(true);
  build();
  setFonts();
  bindControls();
  model_->setFormChanged([this] { refresh(); });
}

void CMainView::refresh() {
  render(model_->form());
  if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->applyMenuState(model_->form());
}

void CMainView::bindControls() {
  // Each handler shows the fields itself; the form is drawn once more when
  // it returns, so nothing stays stale.
  auto run = [this](auto handler) {
    return [this, handler] {
      handler();
      refresh();
    };
  };
  Actions a;
  a.deviceChanged = [this](int index) {
    model_->OnDeviceChanged(index);
    refresh();
  };
  a.detail = run([this] { model_->OnDetail(); });
  a.setCan = run([this] { model_->OnSetCan(); });
  a.loadUserFile = run([this] { model_->OnLoadUserFile(); });
  a.checkId = run([this] { model_->OnCheckId(); });
  a.loadBootFile = run([this] { model_->OnLoadBootFile(); });
  a.setBlocks = run([this] { model_->OnSetBlocks(); });
  a.operationChanged =
      run([this] { model_->OnOperationChanged(checkedOperation(), preSendingChecked(), postSendingChecked()); });
  a.start = run([this] { model_->OnStart(); });
  a.readVersion = run([this] { model_->OnReadVersion(); });
  actions_ = std::move(a);
}

CMainView::~CMainView() = default;

int CMainView::unitsX(int units) const { return (units * QFontMetrics(font()).averageCharWidth() + 2) / 4; }

int CMainView::unitsY(int units) const { return (units * QFontMetrics(font()).height() + 4) / 8; }

QSize CMainView::formSize() const { return QSize(unitsX(kFormWidthUnits), unitsY(kFormHeightUnits)); }

void CMainView::place(QWidget* w, int x, int y, int width, int height) {
  w->setGeometry(unitsX(x), unitsY(y), unitsX(width), unitsY(height));
}

QGroupBox* CMainView::group(const char* title, int x, int y, int w, int h) {
  auto* g = new QGroupBox(QString::fromLatin1(title), this);
  place(g, x, y, w, h);
  g->lower();  // the controls stand on it, not in it
  return g;
}

QLabel* CMainView::label(const char* text, int x, int y, int w) {
  auto* l = new QLabel(QString::fromLatin1(text), this);
  place(l, x, y, w, 10);
  return l;
}

QLineEdit* CMainView::field(const char* name, int x, int y, int w, int h) {
  auto* e = new QLineEdit(this);
  e->setObjectName(QString::fromLatin1(name));
  e->setReadOnly(true);
  place(e, x, y, w, h);
  return e;
}

QLineEdit* CMainView::labeledField(const char* text, int x, int y, int labelWidth, const char* name, int width) {
  // The label sits 2 units lower than its field, and the field 2 units
  // after the label's end.
  label(text, x, y + 2, labelWidth);
  return field(name, x + labelWidth + 2, y, width);
}

QPushButton* CMainView::button(const char* text, const char* name, int x, int y, int w, int h) {
  auto* b = new QPushButton(QString::fromLatin1(text), this);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  place(b, x, y, w, h);
  return b;
}

void CMainView::build() {
  // Left column: the device, its CAN settings and its lock bits.
  buildDeviceGroup();
  buildCanGroup();
  buildAdvancedGroup();
  // Right column: the files and what they give, the operation.
  buildSettingsGroup();
  QButtonGroup* radios = buildOperationGroup();
  // Across the bottom: the result, then the unit's version.
  buildExecutionGroup();
  connectControls(radios);
}

void CMainView::buildDeviceGroup() {
  group(" Device ", 7, 4, 200, 94);
  auto* typeLabel = label("&Type :", 15, 17, 28);
  deviceList_ = new CDropDownList(this);
  deviceList_->setObjectName(QStringLiteral("deviceList"));
  deviceList_->setMaxVisibleItems(20);
  place(deviceList_, 44, 15, 109, 13);
  typeLabel->setBuddy(deviceList_);
  detail_ = button("Detail...", "detail", 157, 14, 46, 15);
  userRomArea_ = labeledField("User Rom Area :", 15, 34, 68, "userRomArea", 68);
  block_ = labeledField("Block :", 15, 50, 68, "block", 68);
  label("Vcc :", 15, 72, 22);
  vcc_ = field("vcc", 38, 66, 60, 22);
  label("Vpp :", 108, 72, 22);
  vpp_ = field("vpp", 131, 66, 60, 22);
  vcc_->setAlignment(Qt::AlignCenter);
  vpp_->setAlignment(Qt::AlignCenter);
}

void CMainView::buildCanGroup() {
  group(" CAN ", 7, 102, 200, 66);
  baudrate_ = labeledField("Baudrate :", 15, 114, 68, "baudrate", 68);
  sendFrame_ = labeledField("Send frame :", 15, 130, 68, "sendFrame", 68);
  pulseOutput_ = labeledField("Pulse Output :", 15, 146, 68, "pulseOutput", 68);
  setCan_ = button("Set CAN...", "setCan", 157, 113, 46, 15);
}

void CMainView::buildAdvancedGroup() {
  group(" Advanced Settings ", 7, 172, 200, 76);
  label("Lock Bit State", 15, 186, 94);
  lockBitState_ = field("lockBitState", 110, 184, 50);
  label("Operation Block", 15, 200, 94);
  operationBlock_ = field("operationBlock", 110, 198, 93);
  label("Lock Bit after Program", 15, 214, 94);
  lockAfterProgram_ = field("lockAfterProgram", 110, 212, 93);
  setBlocks_ = button("Set Blocks...", "setBlocks", 146, 228, 57, 15);
}

void CMainView::buildSettingsGroup() {
  group(" Settings ", 212, 4, 189, 126);
  label("User Rom File :", 220, 16, 80);
  userRomFile_ = field("userRomFile", 220, 27, 134);
  load_ = button("Load...", "load", 358, 26, 38, 15);
  idCode_ = labeledField(" ID code :", 220, 44, 66, "idCode", 108);
  romProtect_ = labeledField("Rom Protect :", 220, 60, 66, "romProtect", 64);
  checkSum_ = labeledField("Check Sum :", 220, 76, 66, "checkSum", 52);
  // "Check ID..." stands just above the field it changes.
  checkId_ = button("Check ID...", "checkId", 346, 75, 50, 15);
  checkIdCode_ = labeledField("Check ID code :", 220, 92, 66, "checkIdCode", 108);
  bootLoaderLabel_ = label("Boot Loader :", 220, 110, 66);
  bootLoader_ = field("bootLoader", 288, 108, 52);
  bootFile_ = button("Boot File...", "bootFile", 346, 107, 50, 15);
}

QButtonGroup* CMainView::buildOperationGroup() {
  group(" Operation ", 212, 134, 189, 114);
  auto* radios = new QButtonGroup(this);
  for (int i = 0; i < kOperationCount; ++i) {
    auto* r = new QRadioButton(QString::fromLatin1(operationKind(i).label), this);
    r->setObjectName(QStringLiteral("operation%1").arg(i));
    place(r, 220, 147 + i * 15, 104, 12);
    radios->addButton(r, i);
    operations_[size_t(i)] = r;
  }
  preSending_ = new QCheckBox(QStringLiteral("Pre Sending"), this);
  preSending_->setObjectName(QStringLiteral("preSending"));
  place(preSending_, 328, 147, 70, 12);
  postSending_ = new QCheckBox(QStringLiteral("Post Sending"), this);
  postSending_->setObjectName(QStringLiteral("postSending"));
  place(postSending_, 328, 162, 70, 12);
  start_ = button("Start", "start", 328, 192, 68, 44);
  return radios;
}

void CMainView::buildExecutionGroup() {
  group(" Execution ", 7, 252, 394, 36);
  label("#1", 15, 267, 12);
  result_ = field("result", 30, 262, 364, 20);
  result_->setAlignment(Qt::AlignCenter);
  result_->setFocusPolicy(Qt::NoFocus);

  version_ = field("version", 270, 292, 72, 12);
  readVersion_ = button("Read Version", "readVersion", 346, 291, 55, 14);
}

void CMainView::connectControls(QButtonGroup* radios) {
  // Each control calls its handler; nothing fires while the form is drawn.
  connect(deviceList_, &QComboBox::activated, this, [this](int index) {
    if (!rendering_ && actions_.deviceChanged) actions_.deviceChanged(index);
  });
  connect(detail_, &QPushButton::clicked, this, [this] { fire(actions_.detail); });
  connect(setCan_, &QPushButton::clicked, this, [this] { fire(actions_.setCan); });
  connect(load_, &QPushButton::clicked, this, [this] { fire(actions_.loadUserFile); });
  connect(checkId_, &QPushButton::clicked, this, [this] { fire(actions_.checkId); });
  connect(bootFile_, &QPushButton::clicked, this, [this] { fire(actions_.loadBootFile); });
  connect(setBlocks_, &QPushButton::clicked, this, [this] { fire(actions_.setBlocks); });
  connect(start_, &QPushButton::clicked, this, [this] { fire(actions_.start); });
  connect(readVersion_, &QPushButton::clicked, this, [this] { fire(actions_.readVersion); });
  // Every change of the choice reaches the unit, however it came about (a
  // click, the keyboard, an accessibility action); the form's own drawing
  // changes nothing that needs sending. A radio button that goes off is the
  // other half of one change, reported by the one that goes on.
  connect(radios, &QButtonGroup::idToggled, this, [this](int, bool on) {
    if (on) fire(actions_.operationChanged);
  });
  connect(preSending_, &QCheckBox::toggled, this, [this] { fire(actions_.operationChanged); });
  connect(postSending_, &QCheckBox::toggled, this, [this] { fire(actions_.operationChanged); });
}

void CMainView::fire(const std::function<void()>& f) {
  if (!rendering_ && f) f();
}

void CMainView::setFonts() {
  // Start: weight 600 at one and a half times the form's height; Vcc and
  // Vpp: the heaviest weight at the same height; the result box: weight 600.
  QFont big = font();
  big.setPointSizeF(font().pointSizeF() * 1.5);
  QFont start = big;
  start.setWeight(QFont::DemiBold);
  start_->setFont(start);
  QFont heavy = big;
  heavy.setWeight(QFont::Black);
  vcc_->setFont(heavy);
  vpp_->setFont(heavy);
  QFont bold = font();
  bold.setWeight(QFont::DemiBold);
  result_->setFont(bold);
}

int CMainView::checkedOperation() const {
  for (int i = 0; i < kOperationCount; ++i)
    if (operations_[size_t(i)]->isChecked()) return i;
  return -1;
}

bool CMainView::preSendingChecked() const { return preSending_->isChecked(); }
bool CMainView::postSendingChecked() const { return postSending_->isChecked(); }

void CMainView::showUserRomFile(const MainFormState& s) {
  applyControl(userRomFile_, s.userRomFile);
  QString text = q(s.userRomFile.text);
  if (s.userRomFileCompact) {
    // What the field can show: its width inside the frame and the margins.
    const QFontMetrics fm(userRomFile_->font());
    const QMargins m = userRomFile_->textMargins();
    const int frame = userRomFile_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, userRomFile_);
    const int room = userRomFile_->width() - 2 * frame - m.left() - m.right() - 4;
    text = q(CompactPathDisplay(s.userRomFile.text, s.lastUserFileName,
                                [&](const std::string& t) { return fm.horizontalAdvance(q(t)) <= room; }));
  }
  if (userRomFile_->text() != text) userRomFile_->setText(text);
  userRomFile_->setCursorPosition(0);
  // The field may show only the compact form; the whole path is one hover away.
  userRomFile_->setToolTip(q(s.userRomFile.text));
  QPalette p = palette();
  if (s.userRomFileRed) p.setColor(QPalette::Text, QColor(255, 0, 0));
  userRomFile_->setPalette(p);
}

void CMainView::render(const MainFormState& s) {
  rendering_ = true;
  shown_ = s;
  renderDeviceGroup(s);
  renderCanGroup(s);
  renderSettingsGroup(s);
  renderAdvancedGroup(s);
  renderOperationGroup(s);
  renderExecutionGroup(s);
  rendering_ = false;
}

void CMainView::renderDeviceGroup(const MainFormState& s) {
  QStringList names;
  for (const std::string& n : s.deviceNames) names << q(n);
  QStringList present;
  for (int i = 0; i < deviceList_->count(); ++i) present << deviceList_->itemText(i);
  if (present != names) {
    deviceList_->clear();
    deviceList_->addItems(names);
  }
  deviceList_->setCurrentIndex(s.deviceSelection >= 0 && s.deviceSelection < names.size() ? s.deviceSelection : -1);
  if (s.deviceListFocus) deviceList_->setFocus();
  applyControl(detail_, s.detailButton);
  applyField(userRomArea_, s.userRomArea);
  applyField(block_, s.block);
  applyField(vcc_, s.vcc);
  applyField(vpp_, s.vpp);
}

void CMainView::renderCanGroup(const MainFormState& s) {
  applyField(baudrate_, s.baudrate);
  applyField(sendFrame_, s.sendFrame);
  applyField(pulseOutput_, s.pulseOutput);
  applyControl(setCan_, s.setCanButton);
}

void CMainView::renderSettingsGroup(const MainFormState& s) {
  showUserRomFile(s);
  applyControl(load_, s.loadButton);
  applyField(idCode_, s.idCode);
  idCode_->setToolTip(q(s.idCode.text));
  applyField(romProtect_, s.romProtect);
  applyField(checkSum_, s.checkSum);
  applyField(checkIdCode_, s.checkIdCode);
  applyControl(checkId_, s.checkIdButton);
  applyControl(bootLoaderLabel_, s.bootLoaderLabel);
  applyField(bootLoader_, s.bootLoader);
  bootLoader_->setToolTip(q(s.bootFilePath));
  applyControl(bootFile_, s.bootFileButton);
}

void CMainView::renderAdvancedGroup(const MainFormState& s) {
  applyField(lockBitState_, s.lockBitState);
  applyField(operationBlock_, s.operationBlock);
  applyField(lockAfterProgram_, s.lockAfterProgram);
  applyControl(setBlocks_, s.setBlocksButton);
}

void CMainView::renderOperationGroup(const MainFormState& s) {
  preSending_->setChecked(s.preSending.checked);
  preSending_->setEnabled(s.preSending.enabled);
  postSending_->setChecked(s.postSending.checked);
  postSending_->setEnabled(s.postSending.enabled);
  for (int i = 0; i < kOperationCount; ++i) {
    QRadioButton* r = operations_[size_t(i)];
    r->setEnabled(s.operationEnabled[i]);
    r->setChecked(i == s.operationIndex);
  }
  if (s.operationIndex < 0 || s.operationIndex >= kOperationCount) {
    // A radio group cannot be emptied by unchecking its member.
    if (QButtonGroup* g = operations_[0]->group()) {
      g->setExclusive(false);
      for (QRadioButton* r : operations_) r->setChecked(false);
      g->setExclusive(true);
    }
  }
  applyControl(start_, s.startButton);
}

void CMainView::renderExecutionGroup(const MainFormState& s) {
  // The result: black on the result's colour, or the normal look.
  result_->setText(q(s.resultText));
  QPalette rp = palette();
  if (s.resultColoured) {
    const QColor back(s.resultBackground.r, s.resultBackground.g, s.resultBackground.b);
    rp.setColor(QPalette::Base, back);
    rp.setColor(QPalette::Text, Qt::black);
  }
  result_->setPalette(rp);

  version_->setText(q(s.versionText));
  applyControl(readVersion_, s.readVersionButton);
}

bool CMainView::onInitialUpdate() {
  if (initialUpdateDone_) return state_.startupOk;
  initialUpdateDone_ = true;
  if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->fitToForm();
  auto runUpdate = [this](const FirmwareImage& image) {
    CFirmwareUpdateDlg dialog(image, window());
    dialog.exec();
  };
  if (!checkConnection(state_, runUpdate)) {
    state_.startupOk = false;
    return false;
  }
  // The reset of the unit's settings waits until the window is up, so its
  // dialog stands over the form.
  model_->StartUp(true);
  if (!state_.startupOk) return false;
  if (auto* frame = qobject_cast<CMainFrame*>(window())) bindMenus(*frame);
  refresh();
  if (state_.reinitPending) QTimer::singleShot(0, this, [this] { runPendingReinit(); });
  return true;
}

void CMainView::bindMenus(CMainFrame& frame) {
  connect(frame.newAction(), &QAction::triggered, this, [this] {
    model_->OnProjectNew();
    refresh();
  });
  // The project and editor commands: run, then the form is drawn again
  // from the model.
  const auto command = [this](auto run) {
    return [this, run] {
      if (rendering_) return;
      EditorProjectDialogs extra;
      extra.saveFile = [this](const FileDialogSpec& r) { return dialogs_->saveFile(r); };
      extra.confirmLoad = [this](const std::string& path) { return dialogs_->confirmLoad(path); };
      extra.runEditor = [this](const EditorRequest& r) { return dialogs_->runEditor(state_, r); };
      run(*model_, *dialogs_, extra);
      refresh();
    };
  };
  connect(frame.openAction(), &QAction::triggered, this,
          command([](MainViewModel& m, MainViewDialogs& d, const EditorProjectDialogs& e) { OnProjectOpen(m, d, e); }));
  connect(
      frame.saveAsAction(), &QAction::triggered, this,
      command([](MainViewModel& m, MainViewDialogs& d, const EditorProjectDialogs& e) { OnProjectSaveAs(m, d, e); }));
  connect(frame.editUserRomAction(), &QAction::triggered, this,
          command([](MainViewModel& m, MainViewDialogs& d, const EditorProjectDialogs& e) { OnEditUserRom(m, d, e); }));
  if (QAction* boot = frame.editBootRomAction())
    connect(
        boot, &QAction::triggered, this,
        command([](MainViewModel& m, MainViewDialogs& d, const EditorProjectDialogs& e) { OnEditBootRom(m, d, e); }));
  connect(frame.manualAction(), &QAction::triggered, this,
          [this] { model_->OnManual(QLocale::system().language() == QLocale::Japanese); });
  connect(frame.aboutAction(), &QAction::triggered, this, [this] {
    CAboutDlg about(state_.hostVersion, state_.unitInfo.firmwareVersionCollapsed, state_.unitInfo.firmwareDate,
                    window());
    about.exec();
  });
}

bool CMainView::runPendingReinit() {
  if (!model_->RunPendingReinit()) return false;
  refresh();
  return true;
}

}  // namespace vrx4
