#include "maintenance/TDateSelector.h"

#include <QCalendarWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/Dialogs.h"

QString LongDateText(const QDate& date) {
  // The program's texts are English whatever the desktop's language.
  return QLocale(QLocale::English, QLocale::UnitedStates).toString(date, "dddd, MMMM d, yyyy");
}

TDateSelector::TDateSelector(const QString& caption, const QDate& start, QWidget* parent) : QDialog(parent) {
  setObjectName("DateSelector");
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  DateLabel = new QLabel(this);
  DateLabel->setObjectName("DateLabel");
  DateLabel->setAlignment(Qt::AlignCenter);
  QFont f = DateLabel->font();
  f.setBold(true);
  DateLabel->setFont(f);
  layout->addWidget(DateLabel);

  Calendar1 = new QCalendarWidget(this);
  Calendar1->setObjectName("Calendar1");
  Calendar1->setFirstDayOfWeek(Qt::Sunday);
  Calendar1->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  Calendar1->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  Calendar1->setSelectedDate(start.isValid() ? start : QDate::currentDate());
  layout->addWidget(Calendar1);

  auto* steps = new QHBoxLayout;
  YearMinusButton = NamedButton(this, "YearMinusButton", "Year-");
  MonthMinusButton = NamedButton(this, "MonthMinusButton", "Month-");
  TodayButton = NamedButton(this, "TodayButton", "Today");
  MonthPlusButton = NamedButton(this, "MonthPlusButton", "Month +");
  YearPlusButton = NamedButton(this, "YearPlusButton", "Year+");
  for (QPushButton* b : {YearMinusButton, MonthMinusButton, TodayButton, MonthPlusButton, YearPlusButton})
    steps->addWidget(b);
  layout->addLayout(steps);

  auto* answer = new QHBoxLayout;
  OkButton = NamedButton(this, "OkButton", "Ok");
  OkButton->setDefault(true);
  CancelButton = NamedButton(this, "CancelButton", "Cancel");
  answer->addStretch();
  answer->addWidget(OkButton);
  answer->addWidget(CancelButton);
  layout->addLayout(answer);

  connect(YearMinusButton, &QPushButton::clicked, this, &TDateSelector::YearMinusButtonClick);
  connect(MonthMinusButton, &QPushButton::clicked, this, &TDateSelector::MonthMinusButtonClick);
  connect(TodayButton, &QPushButton::clicked, this, &TDateSelector::TodayButtonClick);
  connect(MonthPlusButton, &QPushButton::clicked, this, &TDateSelector::MonthPlusButtonClick);
  connect(YearPlusButton, &QPushButton::clicked, this, &TDateSelector::YearPlusButtonClick);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(Calendar1, &QCalendarWidget::selectionChanged, this, &TDateSelector::Calendar1Change);
  // A double click (or Enter) on a day chooses it.
  connect(Calendar1, &QCalendarWidget::activated, this, &QDialog::accept);
  Calendar1Change();
}

QDate TDateSelector::Date() const { return Calendar1->selectedDate(); }

void TDateSelector::Calendar1Change() { DateLabel->setText(LongDateText(Date())); }

void TDateSelector::TodayButtonClick() { Calendar1->setSelectedDate(QDate::currentDate()); }

void TDateSelector::Move(int years, int months) {
  // Qt keeps the day within the target month (31 January + 1 month is
  // 28 or 29 February).
  Calendar1->setSelectedDate(Date().addYears(years).addMonths(months));
}
