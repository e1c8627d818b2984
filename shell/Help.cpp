#include "shell/Help.h"

#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "shell/Dialogs.h"
#include "shell/core/Folders.h"

namespace {

QString gHelpFile;

QString BookOf(const QString& helpFile) {
  const QString name = QFileInfo(helpFile).fileName().toLower();
  if (name == "cv.hlp") return "cv";
  if (name == "faxps.hlp") return "faxps";
  return {};
}

int ContentsTopic(const QString& book) { return book == "faxps" ? HelpTopic::ProblemSolver : HelpTopic::Contents; }

class THelpWindow : public QDialog {
 public:
  THelpWindow() : QDialog(ApplicationWindow()) {
    setObjectName("THelpWindow");
    setWindowTitle("Corvane Help");
    resize(640, 560);
    auto* layout = new QVBoxLayout(this);
    browser_ = new QTextBrowser(this);
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(false);
    layout->addWidget(browser_);
  }
  void Show(const QString& page) {
    browser_->setSearchPaths({QFileInfo(page).path()});
    browser_->setSource(QUrl("qrc" + page));
    show();
    raise();
    activateWindow();
  }

 private:
  QTextBrowser* browser_;
};

QPointer<THelpWindow> gWindow;

}  // namespace

void SetApplicationHelpFile(const QString& fileName) { gHelpFile = fileName; }

QString ApplicationHelpFile() {
  return gHelpFile.isEmpty() ? QString::fromStdString(ProgramFolder()) + "CV.hlp" : gHelpFile;
}

QString HelpTopicPage(const QString& helpFile, int topic) {
  const QString book = BookOf(helpFile);
  if (book.isEmpty()) return {};
  const QString page = QString(":/help/%1/%2.html").arg(book).arg(topic);
  return QFile::exists(page) ? page : QString();
}

void ShowHelpTopic(const QString& helpFile, int topic) {
  QString page = HelpTopicPage(helpFile, topic);
  if (page.isEmpty()) page = HelpTopicPage(helpFile, ContentsTopic(BookOf(helpFile)));
  if (page.isEmpty()) page = HelpTopicPage("CV.hlp", HelpTopic::Contents);
  if (!gWindow) gWindow = new THelpWindow;
  gWindow->Show(page);
}

void ShowHelpContext(int topic) { ShowHelpTopic(ApplicationHelpFile(), topic); }

void ShowProblemSolver() {
  const QString saved = gHelpFile;
  ShowHelpTopic(QString::fromStdString(ProgramFolder()) + "FaxPS.HLP", HelpTopic::ProblemSolver);
  gHelpFile = saved;
}
