// The help window: the manual's pages (docs/, built into the program) in a text browser, opened
// on a topic such as a module type; a topic line, back and contents buttons.
#include <QCompleter>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <cstring>

#include "formula/formfn.h"
#include "foundation/akstatus.h"
#include "ide/helptopics.h"
#include "ide/kswinfactory.h"
#include "ide/kswinqt.h"
#include "ide/windowapis.h"
#include "patch/moduletype.h"

namespace {

// The manual's pages are compiled into the program under this resource folder.
const QString kManualRoot = QStringLiteral(":/manual/");

bool PageExists(const std::string& sPage) { return QFile::exists(kManualRoot + QString::fromStdString(sPage)); }

// What the topic line completes: every module type but the envelope stage types (one page holds
// them all), every function and unit, and the manual's parts.
QStringList TopicWords() {
  QStringList as = {"language", "modules", "functions"};
  for (const ModuleType* ptype : ModuleFactory::Get()->aptype)
    if (ptype->iOrder != OrderEnvStages) as << ptype->pszName;
  for (const FormFnInfo* p = FormFnTable; p->pfnEval; ++p)
    if (p->pszName) as << p->pszName;
  for (const FormFnInfo* p = FormFnUnits; p->pfnEval; ++p) as << p->pszName;
  return as;
}

}  // namespace

class HelpWin : public KSWinQt, public HelpApi {
 public:
  HelpWin(KSWinType* ptype, KSWinMemento& mem) : KSWinQt(ptype, mem) {}

  bool ShowTopic(const char* pszTopic) override {
    std::string sTopic = pszTopic ? pszTopic : "";
    std::string sPage = HelpPageForTopic(sTopic, PageExists);
    AKS(AKSTrace, AK_HERE, "help window: topic \"%s\": %s", sTopic.c_str(),
        sPage.empty() ? "no page, showing the contents" : sPage.c_str());
    if (ptopic_) ptopic_->setText(QString::fromStdString(sTopic));
    bShowingTopic_ = true;
    Show(sPage.empty() ? kHelpIndexPage : sPage);
    bShowingTopic_ = false;
    if (Frame()) {
      Frame()->raise();
      Frame()->activateWindow();
    }
    return !sPage.empty();
  }

 protected:
  void BuildControls(QMainWindow* pframe) override {
    auto* pcentral = new QWidget(pframe);
    auto* playout = new QVBoxLayout(pcentral);
    auto* prow = new QHBoxLayout;
    auto* pbuttonBack = new QPushButton("Back", pcentral);
    auto* pbuttonContents = new QPushButton("Contents", pcentral);
    ptopic_ = new QLineEdit(pcentral);
    ptopic_->setPlaceholderText("module type, function or unit, e.g. Osc, LinFade, semis");
    auto* pcompleter = new QCompleter(TopicWords(), ptopic_);
    pcompleter->setCaseSensitivity(Qt::CaseInsensitive);
    ptopic_->setCompleter(pcompleter);
    prow->addWidget(pbuttonBack);
    prow->addWidget(pbuttonContents);
    prow->addWidget(new QLabel("Topic:", pcentral));
    prow->addWidget(ptopic_, 1);
    pbrowser_ = new QTextBrowser(pcentral);
    pbrowser_->setOpenLinks(true);
    pbrowser_->setOpenExternalLinks(true);
    playout->addLayout(prow);
    playout->addWidget(pbrowser_, 1);
    pframe->setCentralWidget(pcentral);

    QObject::connect(pbuttonBack, &QPushButton::clicked, pbrowser_, &QTextBrowser::backward);
    QObject::connect(pbrowser_, &QTextBrowser::backwardAvailable, pbuttonBack, &QPushButton::setEnabled);
    pbuttonBack->setEnabled(false);
    QObject::connect(pbuttonContents, &QPushButton::clicked, pframe, [this] { ShowTopic(""); });
    QObject::connect(ptopic_, &QLineEdit::returnPressed, pframe,
                     [this] { ShowTopic(ptopic_->text().toStdString().c_str()); });
    // Ctrl+L goes to the topic line, as in a web browser.
    auto* pshortcut = new QShortcut(QKeySequence("Ctrl+L"), pframe);
    QObject::connect(pshortcut, &QShortcut::activated, ptopic_, [this] {
      ptopic_->setFocus();
      ptopic_->selectAll();
    });
    // Every page shown (by topic, link or Back) is traced, for whoever reads the log.
    QObject::connect(pbrowser_, &QTextBrowser::sourceChanged, pframe, [this](const QUrl& url) {
      std::string sPage = url.path().toStdString();
      if (sPage.rfind("/manual/", 0) == 0) sPage.erase(0, strlen("/manual/"));
      // The page's first line is its heading, which says what the window shows.
      AKS(AKSTrace, AK_HERE, "help window: page: %s (%s)", sPage.c_str(),
          pbrowser_->document()->firstBlock().text().toStdString().c_str());
      NameHeadings();
      if (url.hasFragment()) pbrowser_->scrollToAnchor(url.fragment());
      // A page reached by a link or Back names its topic: the page's name ("modules/Osc.md" is Osc).
      if (!bShowingTopic_) {
        QString sName = QFileInfo(url.path()).completeBaseName();
        ptopic_->setText(sName == "README" ? QString() : sName);
      }
    });
    Show(kHelpIndexPage);
  }

 private:
  // Headings read from Markdown carry no anchor names; the manual's links ("language.md#units")
  // name them, so each heading gets its anchor.
  void NameHeadings() {
    for (QTextBlock block = pbrowser_->document()->begin(); block.isValid(); block = block.next()) {
      if (block.blockFormat().headingLevel() == 0) continue;
      QTextCursor cursor(block);
      cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
      QTextCharFormat format;
      format.setAnchor(true);
      format.setAnchorNames({QString::fromStdString(HelpAnchor(block.text().toStdString()))});
      cursor.mergeCharFormat(format);
    }
  }

  void Show(const std::string& sPage) {
    if (pbrowser_) pbrowser_->setSource(QUrl("qrc" + kManualRoot + QString::fromStdString(sPage)));
  }

  bool bShowingTopic_ = false;  // the topic line already says what ShowTopic shows
  QLineEdit* ptopic_ = nullptr;
  QTextBrowser* pbrowser_ = nullptr;
};

namespace {
KSWinTypeTmpl<HelpWin> typeHelp(kTypeHelp, true);
}  // namespace
