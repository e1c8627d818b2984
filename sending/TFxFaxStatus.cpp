#include "sending/TFxFaxStatus.h"

#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FaxCodes.h"

TStandardFaxDisplay::TStandardFaxDisplay(QWidget* parent) : QDialog(parent) {
  setObjectName("TStandardFaxDisplay");
  setWindowTitle("Fax Status");
  setWindowFlags((windowFlags() | Qt::Window) & ~Qt::WindowContextHelpButtonHint);
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto add = [&](const char* name, const char* caption) {
    auto* value = new QLabel(this);
    value->setObjectName(name);
    value->setMinimumWidth(200);
    form->addRow(caption, value);
    return value;
  };
  PhoneNumber = add("PhoneNumber", "Phone number:");
  FaxFileName = add("FaxFileName", "Fax file name:");
  CoverFileName = add("CoverFileName", "Cover file name:");
  TotalPages = add("TotalPages", "Total pages:");
  DialAttempt = add("DialAttempt", "Dial attempt:");
  RemoteID = add("RemoteID", "Remote ID:");
  ConnectBPS = add("ConnectBPS", "Connect BPS:");
  Resolution = add("Resolution", "Resolution:");
  Width = add("Width", "Width:");
  ErrorControl = add("ErrorControl", "Error control:");
  CurrentPage = add("CurrentPage", "Current page:");
  PageLength = add("PageLength", "Page length:");
  BytesTransferred = add("BytesTransferred", "Bytes transferred:");
  ElapsedTime = add("ElapsedTime", "Elapsed time:");
  StatusText = add("StatusText", "Status:");
  layout->addLayout(form);
  ProgressLabel = new QLabel("Page progress:", this);
  ProgressLabel->setObjectName("ProgressLabel");
  layout->addWidget(ProgressLabel);
  ProgressMeter = new QProgressBar(this);
  ProgressMeter->setObjectName("ProgressMeter");
  ProgressMeter->setRange(0, 100);
  layout->addWidget(ProgressMeter);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  layout->addWidget(CancelButton, 0, Qt::AlignHCenter);
  connect(CancelButton, &QPushButton::clicked, this, &TStandardFaxDisplay::CancelClicked);
}

void TStandardFaxDisplay::reject() { emit CancelClicked(); }

TFxFaxStatus::TFxFaxStatus(QWidget* owner) : display_(new TStandardFaxDisplay(owner)) {
  QObject::connect(display_, &TStandardFaxDisplay::CancelClicked, display_, [this] {
    display_->hide();
    if (OnCancel)
      OnCancel();
    else if (Fax)
      Fax->AbortFax();
  });
}

TFxFaxStatus::~TFxFaxStatus() = default;  // the display belongs to its owner window

QString TFxFaxStatus::ShortName(const std::string& name) {
  const QString s = QString::fromStdString(name);
  return s.size() > 20 ? s.left(20) + "..." : s;
}

void TFxFaxStatus::UpdateDisplay(TFxAbstractFax& fax, bool first, bool last) {
  Fax = &fax;
  if (last) {
    display_->hide();
    busySince_.reset();
    return;
  }
  Fill(fax);
  if (first && !display_->isVisible()) {
    // Centred on the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      display_->adjustSize();
      QRect r = display_->frameGeometry();
      r.moveCenter(screen->availableGeometry().center());
      display_->move(r.topLeft());
    }
    display_->show();
  }
}

void TFxFaxStatus::Fill(TFxAbstractFax& fax) {
  auto* send = dynamic_cast<TFxSendFax*>(&fax);
  const bool receiving = send == nullptr;
  display_->PhoneNumber->setText(send ? QString::fromStdString(send->PhoneNumber()) : QString());
  display_->FaxFileName->setText(ShortName(fax.FaxFile()));
  display_->CoverFileName->setText(send ? ShortName(send->CoverFile()) : QString());
  display_->TotalPages->setText(QString::number(fax.TotalPages()));
  display_->DialAttempt->setText(QString::number(fax.DialAttempt()));
  display_->RemoteID->setText(QString::fromStdString(fax.RemoteID()));
  display_->ConnectBPS->setText(QString::number(fax.ConnectBPS()));
  display_->Resolution->setText(fax.ConnectFine() ? "high" : "standard");
  display_->Width->setText(fax.ConnectWide() ? "2048" : "1728");
  display_->ErrorControl->setText(fax.ConnectECM() ? "on" : "off");
  display_->CurrentPage->setText(fax.CurrentPage() == 0 && send && !send->CoverFile().empty()
                                     ? QString("<cover page>")
                                     : QString::number(fax.CurrentPage()));
  const long length = fax.PageLength();
  const long sent = fax.BytesTransferred();
  display_->PageLength->setText(QString::number(length));
  display_->BytesTransferred->setText(QString::number(sent));
  const long elapsed = fax.ElapsedSeconds();
  display_->ElapsedTime->setText(elapsed < 0 ? QString("00:00") : QString::fromStdString(FxFormatMinSec(elapsed)));
  const int progress = fax.ProgressCode();
  QString status = QString::fromStdString(TFxAbstractFax::ProgressText(progress));
  if (progress == fxprogress::fpBusyWait && send) {
    const auto now = std::chrono::steady_clock::now();
    if (!busySince_) busySince_ = now;
    const long waited = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(now - *busySince_).count());
    status += " " + QString::fromStdString(FxFormatMinSec(std::max(0L, send->DialRetryWait - waited))).trimmed();
  } else {
    busySince_.reset();
  }
  display_->StatusText->setText(status);
  display_->ProgressMeter->setVisible(!receiving);
  display_->ProgressLabel->setText(receiving ? "Page progress: N/A" : "Page progress:");
  display_->ProgressMeter->setValue(length > 0 ? static_cast<int>(std::min(100L, sent * 100 / length)) : 0);
}
