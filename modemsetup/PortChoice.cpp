#include "modemsetup/PortChoice.h"

#include <QComboBox>

#include "faxengine/port/ComPort.h"
#include "modemsetup/PreferenceFields.h"
#include "modemsetup/SerialDevices.h"
#include "modemsetup/TFindModemForm.h"
#include "shell/Dialogs.h"

void FillPortChoices(QComboBox* box, const TFxComPort& port) {
  for (int n = 1; n <= TFindModemForm::kPorts; ++n) box->addItem(PortChoiceText(n, port.IniFileName()), n);
}

namespace {

// Offers a free COM number for a modem found on a USB device; Yes names the
// device as that port in [Ports] and chooses it.
void OfferUsbModem(QComboBox* box, TFxComPort& port, const TUsbSerialDevice& usb) {
  const int n = FreeComNumber(port.IniFileName(), TFindModemForm::kPorts);
  const QString name = QString::fromStdString(usb.name);
  if (n == 0) {
    ShowInformation("A modem was found on " + name + ", but every Com Port from Com 1 to Com " +
                    QString::number(TFindModemForm::kPorts) + " already names a device in the [Ports] section of " +
                    QString::fromStdString(port.IniFileName().string()) + ".");
    return;
  }
  if (!AskYesNo(QString("A modem was found on %1.\r\rSet Com Port to Com %2 and use this device for it?")
                    .arg(name)
                    .arg(n),
                "Com Port"))
    return;
  if (!MapComPort(port.IniFileName(), n, usb.name)) {
    ShowInformation("The port could not be stored in " + QString::fromStdString(port.IniFileName().string()) + ".");
    return;
  }
  box->setItemText(n - 1, PortChoiceText(n, port.IniFileName()));
  box->setCurrentIndex(n - 1);
}

}  // namespace

void FindModemPortFor(QComboBox* box, TFxComPort& port, QWidget* parent) {
  const int selected = box->currentIndex() < 0 ? 0 : box->currentData().toInt();
  TFindModemForm form(port, parent);
  form.exec();
  if (selected > 0) port.SetComNumber(static_cast<uint16_t>(selected));
  const int found = form.FoundPort();
  if (found > 0 && found != selected && found <= box->count() &&
      AskYesNo(QString("Set Com Port to Com %1").arg(found), "Com Port"))
    box->setCurrentIndex(found - 1);
  if (found <= 0 && form.FoundUsbDevice()) OfferUsbModem(box, port, *form.FoundUsbDevice());
}
