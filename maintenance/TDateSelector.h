#pragma once
// Picks one day: a month calendar with steps by year and month, the chosen
// day written out in full above it. The caller sets the caption and the day
// the calendar starts at.

#include <QDate>
#include <QDialog>

class QCalendarWidget;
class QLabel;
class QPushButton;

class TDateSelector : public QDialog {
  Q_OBJECT
 public:
  TDateSelector(const QString& caption, const QDate& start, QWidget* parent = nullptr);

  QDate Date() const;

  QLabel* DateLabel;
  QCalendarWidget* Calendar1;
  QPushButton *YearMinusButton, *MonthMinusButton, *TodayButton, *MonthPlusButton, *YearPlusButton;
  QPushButton *OkButton, *CancelButton;

 public slots:
  void YearMinusButtonClick() { Move(-1, 0); }
  void MonthMinusButtonClick() { Move(0, -1); }
  void TodayButtonClick();
  void MonthPlusButtonClick() { Move(0, 1); }
  void YearPlusButtonClick() { Move(1, 0); }
  void Calendar1Change();

 private:
  void Move(int years, int months);
};

// The day as the selector writes it: "Monday, December 7, 1998".
QString LongDateText(const QDate& date);
