#include "modemsetup/PortChoice.h"

#include <QComboBox>

#include "faxengine/port/ComPort.h"
#include "modemsetup/PreferenceFields.h"
#include "modemsetup/TFindModemForm.h"
#include "shell/Dialogs.h"

void FillPortChoices(QComboBox* box, const TFxComPort& port) {
  for (int n = 1; n <= TFindModemForm::kPorts; ++n) box->addItem(PortChoiceText(n, port.IniFileName()));
}

void FindModemPortFor(QComboBox* box, TFxComPort& port, QWidget* parent) {
  const int selected = box->currentIndex() + 1;
  TFindModemForm form(port, parent);
  form.exec();
  if (selected > 0) port.SetComNumber(static_cast<uint16_t>(selected));
  const int found = form.FoundPort();
  if (found > 0 && found != selected && found <= box->count() &&
      AskYesNo(QString("Set Com Port to Com %1").arg(found), "Com Port"))
    box->setCurrentIndex(found - 1);
}
