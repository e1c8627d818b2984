#include "shell/core/Settings.h"

#include <variant>

#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"

TSettings Settings;
TPrintSettings PrintSettings;

namespace {

using TMemberRef = std::variant<std::string TSettings::*, int32_t TSettings::*, bool TSettings::*>;

// One row per key. The write order of the rows is also the order in which
// sections appear in a new file. A default may be the value just read for
// another key ("from"), so a file without the receive-side keys makes
// receiving use the sending values.
struct TKey {
  const char* section;
  const char* key;
  TMemberRef member;
  std::variant<const char*, int32_t, bool> def;
  TMemberRef from{};
  bool hasFrom = false;
  bool read = true;
};

const TKey kKeys[] = {
    {"User", "Fax", &TSettings::Fax, ""},
    {"User", "Name", &TSettings::Name, ""},
    {"User", "Voice", &TSettings::Voice, ""},
    {"User", "Company", &TSettings::Company, ""},
    {"Dialing", "DialPrefix", &TSettings::DialPrefix, ""},
    {"Modem", "InitString", &TSettings::InitString, ""},
    {"Dialing", "DialAttempts", &TSettings::DialAttempts, 3},
    {"Dialing", "RetryWait", &TSettings::RetryWait, 60},
    {"Dialing", "BlindDial", &TSettings::BlindDial, false},
    {"Dialing", "IgnoreBusy", &TSettings::IgnoreBusy, false},
    {"Modem", "ComPort", &TSettings::ComPort, -1},
    {"Modem", "FaxClass", &TSettings::FaxClass, 1},
    {"Modem", "MaximumBPS", &TSettings::MaximumBPS, 9600},
    {"Dialing", "ToneOrPulse", &TSettings::ToneOrPulse, 0},
    {"Dialing", "Timeout", &TSettings::Timeout, 60},
    {"Resetting", "String", &TSettings::ResetString, ""},
    {"Resetting", "AfterString", &TSettings::AfterString, ""},
    {"Receive", "Wav", &TSettings::Wav, ""},
    {"Receive", "AnswerOnRing", &TSettings::AnswerOnRing, 1},
    {"Hints", "On", &TSettings::HintsOn, true},
    {"User", "PrefixDisable", &TSettings::PrefixDisable, false},
    {"Dialing", "DialSuffix", &TSettings::DialSuffix, ""},
    {"User", "SuffixDisable", &TSettings::SuffixDisable, false},
    {"Receive", "AtStartup", &TSettings::AtStartup, false},
    {"Modem", "RenegotiateBetween", &TSettings::RenegotiateBetween, false},
    {"Dialing", "ECM", &TSettings::ECM, false},
    {"Receive", "ECMReceive", &TSettings::ECMReceive, false, &TSettings::ECM, true},
    {"Modem", "InitStringReceive", &TSettings::InitStringReceive, "", &TSettings::InitString, true},
    {"Modem", "FaxClassReceive", &TSettings::FaxClassReceive, 0, &TSettings::FaxClass, true},
    {"Modem", "MaximumBPSReceive", &TSettings::MaximumBPSReceive, 0, &TSettings::MaximumBPS, true},
    {"Receive", "PrintOnReceipt", &TSettings::PrintOnReceipt, false},
    {"Receive", "PrintOnReceiptPrinter", &TSettings::PrintOnReceiptPrinter, kDefaultPrinterName},
    {"Version", "Version", &TSettings::Version, "", {}, false, false},
    {"Other", "ImposeWaitBeforePrinting", &TSettings::ImposeWaitBeforePrinting, false},
    {"Receive", "DisableReceivingFaxesNotification", &TSettings::DisableReceivingFaxesNotification, false},
};

template <class... F>
struct TOverload : F... {
  using F::operator()...;
};
// Clang 14 does not deduce aggregate bases without it.
template <class... F>
TOverload(F...) -> TOverload<F...>;

void ReadKey(const TIniFile& ini, const TKey& k, TSettings& s) {
  std::visit(TOverload{
                 [&](std::string TSettings::*m) {
                   const std::string def = k.hasFrom ? s.*std::get<std::string TSettings::*>(k.from)
                                                     : std::string(std::get<const char*>(k.def));
                   s.*m = ini.ReadString(k.section, k.key, def);
                 },
                 [&](int32_t TSettings::*m) {
                   const int32_t def = k.hasFrom ? s.*std::get<int32_t TSettings::*>(k.from) : std::get<int32_t>(k.def);
                   s.*m = ini.ReadInteger(k.section, k.key, def);
                 },
                 [&](bool TSettings::*m) {
                   const bool def = k.hasFrom ? s.*std::get<bool TSettings::*>(k.from) : std::get<bool>(k.def);
                   s.*m = ini.ReadBool(k.section, k.key, def);
                 },
             },
             k.member);
}

void WriteKey(TIniFile& ini, const TKey& k, const TSettings& s) {
  std::visit(TOverload{
                 [&](std::string TSettings::*m) { ini.WriteString(k.section, k.key, s.*m); },
                 [&](int32_t TSettings::*m) { ini.WriteInteger(k.section, k.key, s.*m); },
                 [&](bool TSettings::*m) { ini.WriteBool(k.section, k.key, s.*m); },
             },
             k.member);
}

struct TPrintKey {
  const char* key;
  bool TPrintSettings::*member;
  bool def;
};

const TPrintKey kPrintKeys[] = {
    {"MultiPage", &TPrintSettings::MultiPage, false},
    {"Header", &TPrintSettings::Header, true},
    {"Footer", &TPrintSettings::Footer, true},
    {"Stretch", &TPrintSettings::Stretch, true},
};

}  // namespace

void ReadSettings() { ReadSettings(IniFileName()); }

void ReadSettings(const std::string& iniFile) {
  const TIniFile ini(iniFile);
  for (const TKey& k : kKeys)
    if (k.read) ReadKey(ini, k, Settings);
}

bool WriteSettings() { return WriteSettings(IniFileName()); }

bool WriteSettings(const std::string& iniFile) {
  Settings.Version = kVersionText;
  TIniFile ini(iniFile);
  for (const TKey& k : kKeys) WriteKey(ini, k, Settings);
  return ini.UpdateFile();
}

void ReadPrintSettings() { ReadPrintSettings(IniFileName()); }

void ReadPrintSettings(const std::string& iniFile) {
  const TIniFile ini(iniFile);
  for (const TPrintKey& k : kPrintKeys) PrintSettings.*k.member = ini.ReadBool("Printing", k.key, k.def);
}

bool WritePrintSettings() { return WritePrintSettings(IniFileName()); }

bool WritePrintSettings(const std::string& iniFile) {
  TIniFile ini(iniFile);
  for (const TPrintKey& k : kPrintKeys) ini.WriteBool("Printing", k.key, PrintSettings.*k.member);
  return ini.UpdateFile();
}
