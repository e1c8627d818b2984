#pragma once
// What a send run takes from the settings and the send window's fields, and
// the checks made before anything is dialled. Plain functions over plain
// values, so the window stays thin and the rules can be tested alone.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>

#include "shell/core/Settings.h"

// The dialling and modem values a run uses, each brought into its sound
// range: a settings file edited by hand may hold anything.
struct TSendSettings {
  int comPort = -1;        // zero-based; -1 never chosen
  int faxClass = 0;        // 0 auto, 1 Class 1, 2 Class 2, 3 Class 2.0
  int maximumBps = 9600;   // one of 2400 ... 14400
  int dialAttempts = 3;    // 1 ... kMaxDialAttempts
  int retryWaitSecs = 60;  // 0 ... kMaxRetryWaitSecs
  bool pulse = false;
  static constexpr int kMaxDialAttempts = 20;
  static constexpr int kMaxRetryWaitSecs = 3600;
  static constexpr int kMaxComPort = 254;  // the port component's highest number is 255
};
[[nodiscard]] TSendSettings SoundSendSettings(const TSettings& s);

// The rate of the transfer rate list nearest to bps.
[[nodiscard]] int NearestTransferRate(int bps);

// How long the modem waits for the far end's answer: the S7 register of the
// init string when it sets one (at least 55 seconds), else 60.
[[nodiscard]] int DialWaitSeconds(const std::string& initString);

// The page header with "$I", "$P" and "$N" left for the engine to fill in.
[[nodiscard]] QString BuildHeaderLine(const QString& name, const QString& fax, const QDateTime& now);

// The lines of the send window's configuration display.
[[nodiscard]] QStringList SetupLines(const TSettings& s);

// The number field and the dial prefix and suffix as the send window holds
// them; the "on" flags are the inverse of its disable boxes.
struct TDialFields {
  QString number;
  QString prefix;
  QString suffix;
  bool prefixOn = true;
  bool suffixOn = true;
};
// What a call is started with, as entries of the serial port log and as
// lines of the session log.
[[nodiscard]] QStringList CallPortLogEntries(const TSettings& s, const TDialFields& dial);
[[nodiscard]] QStringList CallSessionLogLines(const TSettings& s, const TDialFields& dial);

// The init string as the fax component takes it: "AT" put in front unless it
// holds "AT" in any letter case.
[[nodiscard]] std::string ModemInitCommand(const std::string& initString);

// Checks made before the port is opened; each gives the message to show, or
// nothing when the value is fine.
// The number to dial: at least one digit, and only what a modem dials.
[[nodiscard]] std::optional<QString> CheckFaxNumber(const QString& number);
// The dial prefix or suffix (what: "prefix" or "suffix"): dial characters and
// the dial modifiers W, P, T, "!" and "@".
[[nodiscard]] std::optional<QString> CheckDialAddition(const QString& text, const QString& what);
// A modem string of the settings (what names it: "Modem Init String" ...):
// no control characters, which would end the command early or start another.
[[nodiscard]] std::optional<QString> CheckModemString(const std::string& command, const QString& what);
// A fax image file: an APF file whose every page is there and decodes.
[[nodiscard]] std::optional<QString> CheckFaxFile(const std::filesystem::path& file);

// Cuts a text to the 255 characters a field of the fax component holds.
[[nodiscard]] std::string Short255(const std::string& s);
