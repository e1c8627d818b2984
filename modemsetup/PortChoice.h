#pragma once
// The port list of the set-up windows and the port scan behind their "Find
// Modem Port" buttons, shared by the wizard and the quick setup.

class QComboBox;
class QWidget;
class TFxComPort;

// Fills box with COM1 to COM6, each with the device it stands for and its
// one-based number as item data.
void FillPortChoices(QComboBox* box, const TFxComPort& port);

// Runs the port scan with port; afterwards port is set back to the chosen
// entry of box, and a modem found on another port is offered ("Set Com Port
// to Com n"), Yes choosing it in box. When only a USB device without a COM
// number has a modem, a free COM number is offered for it; Yes names the
// device in [Ports] at once (the port list must know it for the probes).
void FindModemPortFor(QComboBox* box, TFxComPort& port, QWidget* parent);
