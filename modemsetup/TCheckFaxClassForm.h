#pragma once
// The fax class test: asks the modem on one port which fax classes it offers
// and recommends one. The test starts when the window is first shown and runs
// on a worker thread; questions to the user are asked on the window's thread.

#include <QDialog>

#include <atomic>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class TFxComPort;
class TProbeRun;

class TCheckFaxClassForm : public QDialog {
  Q_OBJECT
 public:
  // port is lent by the caller: the test works on a port of its own set up like
  // it, on COM portNumber, and leaves port itself alone.
  TCheckFaxClassForm(TFxComPort& port, int portNumber, QWidget* parent = nullptr);
  ~TCheckFaxClassForm() override;

  bool Class1Supported() const { return class1_; }
  bool Class2Supported() const { return class2_; }
  bool Class20Supported() const { return class20_; }
  // 0 Class 1, 1 Class 2, 2 Class 2.0, -1 none; the fax class setting is this + 1.
  int RecommendedIndex() const { return recommended_; }
  const QString& RecommendedName() const { return recommendedName_; }
  bool TestFinished() const { return finished_; }

  QLabel* Class1Label = nullptr;
  QLabel* Class2Label = nullptr;
  QLabel* Class20Label = nullptr;
  QLabel* Status = nullptr;
  QPushButton* OKButton = nullptr;

 signals:
  void testFinished(int recommendedIndex);

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  // What the worker found, handed to the window in one piece.
  struct TOutcome {
    bool known = false;  // the classes could be read
    bool class1 = false, class2 = false, class20 = false;
    QString status;
  };
  void StartTest();
  static TOutcome RunTest(TProbeRun& run, TFxComPort& port, int n, const std::string& resetString,
                          TCheckFaxClassForm* form);
  void ShowOutcome(const TOutcome& outcome);

  TFxComPort& lent_;
  int portNumber_;
  std::shared_ptr<TProbeRun> run_;
  bool started_ = false;
  bool finished_ = false;
  bool class1_ = false, class2_ = false, class20_ = false;
  int recommended_ = -1;
  QString recommendedName_;
};
