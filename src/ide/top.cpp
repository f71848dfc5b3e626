// The main window's controls and menu over its model.
#include "ide/top.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "foundation/akstatus.h"
#include "ide/ideapp.h"
#include "ide/idestart.h"
#include "ide/kswinfactory.h"
#include "ide/windowapis.h"

namespace {

KSWinTypeTmpl<Top> typeTop(kTypeMain, true);

constexpr int kTimerMs = 500;  // the engine values and the MIDI checks, twice a second
constexpr int kLightSize = 16;

// The four states of the MIDI status light: no device, device open, active sensing, traffic.
const QColor kacolorLight[4] = {QColor(90, 90, 90), QColor(0, 110, 0), QColor(230, 180, 0), QColor(40, 240, 40)};

// The message list's columns: heading, width and alignment.
struct Column {
  const char* pszHeading;
  int iWidth;
  Qt::Alignment align;
};
const Column kacolumn[4] = {{"Message", 1500, Qt::AlignLeft},
                            {"Count", 45, Qt::AlignRight},
                            {"Internal", 130, Qt::AlignLeft},
                            {"Patch Line", 45, Qt::AlignRight}};

}  // namespace

// A self-drawn light: each state is painted into an off-screen image, which is copied to the screen.
class KSStatusLight : public QWidget {
 public:
  explicit KSStatusLight(QWidget* pparent) : QWidget(pparent) {
    setFixedSize(kLightSize, kLightSize);
    for (int i = 0; i < 4; ++i) {
      aimage_[i] = QImage(kLightSize, kLightSize, QImage::Format_ARGB32_Premultiplied);
      aimage_[i].fill(Qt::transparent);
      QPainter painter(&aimage_[i]);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(QPen(Qt::black, 1));
      painter.setBrush(kacolorLight[i]);
      painter.drawEllipse(QRectF(1.5, 1.5, kLightSize - 3, kLightSize - 3));
    }
  }
  void SetState(int iState) {
    iState_ = std::clamp(iState, 0, 3);
    update();
  }
  int State() const { return iState_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(0, 0, aimage_[iState_]);
  }

 private:
  QImage aimage_[4];
  int iState_ = 0;
};

Top::Top(KSWinType* ptype, KSWinMemento& mem) : KSWinQt(ptype, mem) {
  sSavedDevice_ = mem.GetString("MIDIDevDefault", "");
}

Top::~Top() {
  if (ptimer_) ptimer_->stop();
  pmodel_.reset();
}

void Top::BuildControls(QMainWindow* pframe) {
  auto* pcentral = new QWidget(pframe);
  auto* pgrid = new QGridLayout(pcentral);

  auto* pgroupMidi = new QGroupBox("MIDI", pcentral);
  auto* pgridMidi = new QGridLayout(pgroupMidi);
  pcomboDevice_ = new QComboBox(pgroupMidi);
  plight_ = new KSStatusLight(pgroupMidi);
  plabelMidiStatus_ = new QLabel(pgroupMidi);
  plabelMidiMsg_ = new QLabel(pgroupMidi);
  pgridMidi->addWidget(new QLabel("Device:", pgroupMidi), 0, 0);
  pgridMidi->addWidget(pcomboDevice_, 0, 1, 1, 2);
  pgridMidi->addWidget(new QLabel("MIDI Status", pgroupMidi), 1, 0);
  pgridMidi->addWidget(plabelMidiStatus_, 1, 1);
  pgridMidi->addWidget(plight_, 1, 2);
  pgridMidi->addWidget(new QLabel("MIDI Msg", pgroupMidi), 2, 0);
  pgridMidi->addWidget(plabelMidiMsg_, 2, 1, 1, 2);
  pgridMidi->setColumnStretch(1, 1);
  pgridMidi->setRowStretch(3, 1);  // the lines stay together at the top as the group grows

  auto* pgroupPower = new QGroupBox("Processing Power", pcentral);
  auto* pgridPower = new QGridLayout(pgroupPower);
  plabelVoices_ = new QLabel("0", pgroupPower);
  plabelVoices_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* pbuttonSoundOff = new QPushButton("ALL SOUND OFF", pgroupPower);
  pgridPower->addWidget(new QLabel("Voices:", pgroupPower), 0, 0);
  pgridPower->addWidget(plabelVoices_, 0, 1);
  pgridPower->addWidget(pbuttonSoundOff, 1, 0, 1, 2);

  auto* pgroupOutput = new QGroupBox("Output", pcentral);
  auto* pgridOutput = new QGridLayout(pgroupOutput);
  pmeter_ = new QProgressBar(pgroupOutput);
  pmeter_->setTextVisible(false);
  pmeter_->setRange(-480, 0);
  pmeter_->setValue(-480);
  plabelPeak_ = new QLabel(pgroupOutput);
  plabelPeak_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  plabelPeak_->setMinimumWidth(QFontMetrics(plabelPeak_->font()).horizontalAdvance("+999.0 dB") + 4);
  plabelAutoReductions_ = new QLabel("0", pgroupOutput);
  plabelAutoReductions_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* pbuttonReset = new QPushButton("Reset Auto-Reduce", pgroupOutput);
  pgridOutput->addWidget(new QLabel("Digital VU:", pgroupOutput), 0, 0);
  pgridOutput->addWidget(pmeter_, 0, 1);
  pgridOutput->addWidget(new QLabel("Peak:", pgroupOutput), 1, 0);
  pgridOutput->addWidget(plabelPeak_, 1, 1);
  pgridOutput->addWidget(new QLabel("Auto-reductions:", pgroupOutput), 2, 0);
  pgridOutput->addWidget(plabelAutoReductions_, 2, 1);
  pgridOutput->addWidget(pbuttonReset, 3, 0, 1, 2);

  auto* pbuttonNotesOff = new QPushButton("All Notes Off", pcentral);
  auto* pbuttonResetMessages = new QPushButton("Reset Messages", pcentral);
  pbuttonResetMessages->setVisible(false);

  plist_ = new QTreeWidget(pcentral);
  plist_->setRootIsDecorated(false);
  plist_->setUniformRowHeights(true);
  plist_->setSelectionBehavior(QAbstractItemView::SelectRows);
  plist_->setColumnCount(4);
  QStringList asHeading;
  for (const Column& column : kacolumn) asHeading << column.pszHeading;
  plist_->setHeaderLabels(asHeading);
  for (int i = 0; i < 4; ++i) {
    plist_->setColumnWidth(i, kacolumn[i].iWidth);
    plist_->headerItem()->setTextAlignment(i, kacolumn[i].align | Qt::AlignVCenter);
  }
  plist_->header()->setStretchLastSection(false);

  // The MIDI group and the message list grow with the window; the two right-hand groups keep
  // their size and follow the right edge.
  pgrid->addWidget(pgroupMidi, 0, 0, 2, 1);
  pgrid->addWidget(pgroupPower, 0, 1);
  pgrid->addWidget(pgroupOutput, 1, 1);
  auto* prowButtons = new QHBoxLayout;
  prowButtons->addWidget(pbuttonNotesOff);
  prowButtons->addWidget(pbuttonResetMessages);
  prowButtons->addStretch(1);
  pgrid->addLayout(prowButtons, 2, 0, 1, 2);
  pgrid->addWidget(plist_, 3, 0, 1, 2);
  pgrid->setColumnStretch(0, 1);
  pgrid->setRowStretch(3, 1);
  pframe->setCentralWidget(pcentral);
  BuildMenu(pframe);

  CVantrelExplorerApp* papp = CVantrelExplorerApp::Get();
  pmodel_ = std::make_unique<TopModel>(*papp->Core(), KSWinFactory::Get(), papp->MidiPort(), *this);

  QObject::connect(pbuttonSoundOff, &QPushButton::clicked, pframe, [this] { pmodel_->AllSoundOff(); });
  QObject::connect(pbuttonReset, &QPushButton::clicked, pframe, [this] { pmodel_->ResetAutoReduce(); });
  QObject::connect(pbuttonNotesOff, &QPushButton::clicked, pframe, [this] { pmodel_->AllNotesOff(); });
  QObject::connect(pbuttonResetMessages, &QPushButton::clicked, pframe, [this] { pmodel_->ResetMessages(); });
  QObject::connect(plist_, &QTreeWidget::itemClicked, pframe,
                   [this](QTreeWidgetItem* pitem, int) { pmodel_->RowClicked(plist_->indexOfTopLevelItem(pitem)); });
  // A double click also brings the editor forward, with the caret on the error's line.
  QObject::connect(plist_, &QTreeWidget::itemDoubleClicked, pframe, [this](QTreeWidgetItem* pitem, int) {
    pmodel_->RowClicked(plist_->indexOfTopLevelItem(pitem));
    if (KSWin* peditor = KSWinFactory::Get().FindWindowOfType(kTypeEditor)) peditor->PlatformRaise();
  });

  // Initialisation in order: the light and the timer, the message list (above), the devices.
  ShowLight(0);
  ptimer_ = new QTimer(pframe);
  QObject::connect(ptimer_, &QTimer::timeout, pframe, [this] { pmodel_->Tick(); });
  ptimer_->start(kTimerMs);
  pmodel_->FillDevices(sSavedDevice_);
  for (const MidiDeviceEntry& entry : pmodel_->Devices())
    pcomboDevice_->addItem(QString::fromStdString(entry.sName), entry.iDevice);
  pcomboDevice_->setCurrentIndex(pmodel_->SelectedDevice());
  if (!papp->MidiPort()) ShowMidiStatus(("no MIDI system: " + papp->MidiError()).c_str());
  QObject::connect(pcomboDevice_, &QComboBox::currentIndexChanged, pframe, [this](int i) { pmodel_->SelectDevice(i); });
  pframe->setWindowIcon(QApplication::windowIcon());
  pmodel_->Tick();
}

void Top::BuildMenu(QMainWindow* pframe) {
  QMenuBar* pbar = pframe->menuBar();
  QMenu* pmenuFile = pbar->addMenu("&File");
  QObject::connect(pmenuFile, &QMenu::aboutToShow, pframe, [] { AKS(AKSTrace, AK_HERE, "main window: menu opened: File"); });
  pmenuFile->addAction("&Save All Files", [this] {
    if (PatchEditorApi* peditor = FindEditor(KSWinFactory::Get())) peditor->QuerySave();
  });
  pmenuFile->addAction("Save &Workspace", [] { KSWinFactory::Get().SaveUserWorkspace(); });
  pmenuFile->addSeparator();
  pmenuFile->addAction("E&xit", [this] { pmodel_->Exit(); });

  QMenu* pmenuWindow = pbar->addMenu("&Window");
  QObject::connect(pmenuWindow, &QMenu::aboutToShow, pframe, [] { AKS(AKSTrace, AK_HERE, "main window: menu opened: Window"); });
  pmenuWindow->addAction("Patch &Browser", [this] { OpenType(kTypeBrowser); });
  pmenuWindow->addAction("&Patch Editor", [this] { OpenType(kTypeEditor); });
  pmenuWindow->addAction("Osci&lliscope", QKeySequence("Ctrl+O"), [this] { OpenType(kTypeOscilloscope); });
  pmenuWindow->addAction("Performance &Input", [this] { OpenType(kTypePerformance); });

  // The test tools are for the developers' own account only.
  if (IsDeveloperAccount()) {
    QMenu* pmenuTest = pbar->addMenu("&Test");
    pmenuTest->addAction("&Variable Dump", [this] { pmodel_->VariableDump(); });
    pmenuTest->addAction("&Regression Test", [] { CVantrelExplorerApp::Get()->RunRegression(); });
    pmenuTest->addAction("&Heap Diff", [this] { pmodel_->HeapCheck(); });
  }

  // The manual, opened in the help window on one of its parts.
  QMenu* pmenuHelp = pbar->addMenu("&Help");
  QObject::connect(pmenuHelp, &QMenu::aboutToShow, pframe,
                   [] { AKS(AKSTrace, AK_HERE, "main window: menu opened: Help"); });
  static const struct {
    const char* pszItem;
    const char* pszTopic;
  } aHelp[] = {{"&Contents", ""}, {"&Language Guide", "language"}, {"&Module Reference", "modules"},
               {"&Functions", "functions"}};
  for (const auto& help : aHelp)
    pmenuHelp->addAction(help.pszItem, [pszTopic = help.pszTopic] {
      if (HelpApi* phelp = OpenHelp(KSWinFactory::Get())) phelp->ShowTopic(pszTopic);
    });
}

void Top::OpenType(const char* pszType) { KSWinFactory::Get().OpenWindow(pszType); }

void Top::SaveState(KSWinMemento& mem) {
  KSWinQt::SaveState(mem);
  if (pmodel_) pmodel_->SaveState(mem);
}

void Top::CloseRequested() { pmodel_->Exit(); }

void Top::ShowMidiMsg(const char* psz) {
  if (plabelMidiMsg_) plabelMidiMsg_->setText(QString::fromUtf8(psz));
  // What the window shows, for whoever reads the log (the end-to-end test does).
  AKS(AKSTrace, AK_HERE, "main window: MIDI Msg: %s", psz);
}

void Top::ShowMidiStatus(const char* psz) {
  if (plabelMidiStatus_) plabelMidiStatus_->setText(QString::fromUtf8(psz));
  AKS(AKSTrace, AK_HERE, "main window: MIDI Status: %s", psz);
}

void Top::ShowLight(int iState) {
  if (plight_) plight_->SetState(iState);
}

void Top::ErrorBox(const char* pszTitle, const char* pszText) {
  QMessageBox::warning(Frame(), QString::fromUtf8(pszTitle), QString::fromUtf8(pszText));
}

void Top::ShowLevels(const TopLevels& levels) {
  pmeter_->setRange(levels.iMeterMin, std::max(levels.iMeterMax, levels.iMeterMin + 1));
  pmeter_->setValue(std::clamp(levels.iMeterPos, pmeter_->minimum(), pmeter_->maximum()));
  plabelVoices_->setText(QString::fromStdString(levels.sVoices));
  plabelPeak_->setText(QString::fromStdString(levels.sPeak));
  plabelAutoReductions_->setText(QString::fromStdString(levels.sAutoReductions));
  if (levels.sVoices != sVoicesShown_) {
    sVoicesShown_ = levels.sVoices;
    AKS(AKSTrace, AK_HERE, "main window: Voices: %s", levels.sVoices.c_str());
  }
}

void Top::SetCell(int iRow, int iColumn, const std::string& s) {
  QTreeWidgetItem* pitem = plist_->topLevelItem(iRow);
  QString q = QString::fromStdString(s);
  pitem->setText(iColumn, q);
  pitem->setTextAlignment(iColumn, kacolumn[iColumn].align | Qt::AlignVCenter);
  int iWidth = plist_->fontMetrics().horizontalAdvance(q) + 12;
  if (plist_->columnWidth(iColumn) < iWidth) plist_->setColumnWidth(iColumn, iWidth);
}

void Top::ShowRows(const std::vector<TopMessageRow>& arow) {
  plist_->clear();
  for (size_t i = 0; i < arow.size(); ++i) {
    plist_->addTopLevelItem(new QTreeWidgetItem);
    for (int iColumn = 0; iColumn < 4; ++iColumn) SetCell(static_cast<int>(i), iColumn, arow[i].asColumn[iColumn]);
    AKS(AKSTrace, AK_HERE, "main window: message: %s (line %s)", arow[i].asColumn[0].c_str(), arow[i].asColumn[3].c_str());
  }
}

void Top::Quit(int iStatus) {
  if (ptimer_) ptimer_->stop();
  QCoreApplication::exit(iStatus);
}
