#pragma once
// The settings of CV.INI, one process-wide variable per key. ReadSettings
// fills them (missing or unreadable values give the defaults), any window may
// change them, and WriteSettings stores all of them at once.

#include <cstdint>
#include <string>

struct TSettings {
  // [User]
  std::string Fax;      // own fax number, sent as station identifier
  std::string Name;
  std::string Voice;
  std::string Company;
  bool PrefixDisable = false;
  bool SuffixDisable = false;
  // [Dialing]
  std::string DialPrefix;
  std::string DialSuffix;
  int32_t DialAttempts = 0;
  int32_t RetryWait = 0;  // seconds
  bool BlindDial = false;
  bool IgnoreBusy = false;
  int32_t ToneOrPulse = 0;  // 0 tone, 1 pulse
  int32_t Timeout = 0;      // kept and written back only
  bool ECM = false;
  // [Modem]
  std::string InitString;
  int32_t ComPort = 0;     // zero-based; -1 when never chosen
  int32_t FaxClass = 0;    // 0 auto, 1 Class 1, 2 Class 2, 3 Class 2.0
  int32_t MaximumBPS = 0;
  bool RenegotiateBetween = false;
  std::string InitStringReceive;
  int32_t FaxClassReceive = 0;
  int32_t MaximumBPSReceive = 0;
  // [Resetting]
  std::string ResetString;  // key "String"
  std::string AfterString;
  // [Receive]
  std::string Wav;
  int32_t AnswerOnRing = 0;
  bool AtStartup = false;
  bool ECMReceive = false;
  bool PrintOnReceipt = false;
  std::string PrintOnReceiptPrinter;
  bool DisableReceivingFaxesNotification = false;
  // [Hints]
  bool HintsOn = false;  // key "On"
  // [Version]
  std::string Version;
  // [Other]
  bool ImposeWaitBeforePrinting = false;
};

struct TPrintSettings {  // section [Printing]
  bool MultiPage = false;
  bool Header = false;
  bool Footer = false;
  bool Stretch = false;
};

inline constexpr const char* kVersionText = "2.9r";
// The literal that means "the system's default printer".
inline constexpr const char* kDefaultPrinterName = "Default Windows Printer";

extern TSettings Settings;
extern TPrintSettings PrintSettings;

// Read every key (all but Version) from the file, by default IniFileName().
void ReadSettings();
void ReadSettings(const std::string& iniFile);
// Write every key, in the fixed order, keeping everything else in the file.
// False when the file could not be written (the old file is then unchanged).
bool WriteSettings();
bool WriteSettings(const std::string& iniFile);

void ReadPrintSettings();
void ReadPrintSettings(const std::string& iniFile);
bool WritePrintSettings();
bool WritePrintSettings(const std::string& iniFile);
