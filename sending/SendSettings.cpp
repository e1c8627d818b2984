#include "sending/SendSettings.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>

#include "faximage/Apf.h"
#include "faximage/FaxUnpacker.h"
#include "faxengine/session/FaxCodes.h"
#include "faxengine/text/FxStrings.h"
#include "shell/core/Text.h"

namespace {

constexpr std::array kRates{2400, 4800, 7200, 9600, 12000, 14400};

QString Printable(const QString& s) {
  QString out;
  for (QChar c : s) out += c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar('?') : c;
  return out;
}

bool IsDialSymbol(QChar c) { return QStringLiteral(" -()./+*#,").contains(c); }

}  // namespace

int NearestTransferRate(int bps) {
  int best = kRates.front();
  for (int r : kRates)
    if (std::abs(static_cast<long>(r) - bps) < std::abs(static_cast<long>(best) - bps)) best = r;
  return best;
}

TSendSettings SoundSendSettings(const TSettings& s) {
  TSendSettings out;
  out.comPort = std::clamp(s.ComPort, -1, TSendSettings::kMaxComPort);
  out.faxClass = s.FaxClass >= 0 && s.FaxClass <= 3 ? s.FaxClass : 0;
  out.maximumBps = NearestTransferRate(s.MaximumBPS);
  out.dialAttempts = std::clamp(s.DialAttempts, 1, TSendSettings::kMaxDialAttempts);
  out.retryWaitSecs = std::clamp(s.RetryWait, 0, TSendSettings::kMaxRetryWaitSecs);
  out.pulse = s.ToneOrPulse != 0;
  return out;
}

int DialWaitSeconds(const std::string& initString) {
  std::string upper = initString;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const size_t at = upper.find("S7=");
  if (at == std::string::npos) return 60;
  std::string part = upper.substr(at, 6);
  while (!part.empty() && !std::isdigit(static_cast<unsigned char>(part.back()))) part.pop_back();
  if (part.size() <= 3) return 60;
  const std::string digits = part.substr(3, 3);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return 60;
  return std::max(std::stoi(digits), 55);
}

QString BuildHeaderLine(const QString& name, const QString& fax, const QDateTime& now) {
  QString h = "Sent";
  if (!QString::fromStdString(TrimBoth((name + fax).toStdString())).isEmpty()) h += " by";
  if (!name.isEmpty()) h += ": " + name + "    ";
  if (!fax.isEmpty()) h += "         $I          ";
  const QLocale locale = QLocale::system();
  h += "           " + locale.toString(now.date(), QLocale::ShortFormat) + "    " +
       locale.toString(now.time(), QLocale::ShortFormat);
  h += "              Page $P of $N";
  return h;
}

QStringList SetupLines(const TSettings& s) {
  const TSendSettings v = SoundSendSettings(s);
  static const char* const kClasses[] = {"Autodetect", "Class 1", "Class 2", "Class 2.0"};
  QStringList lines{
      "Communications Port: COM" + QString::number(v.comPort + 1),
      QString("Fax Class: ") + kClasses[v.faxClass],
      "Transfer Rate: " + QString::number(v.maximumBps),
      QString("Dialing with: ") + (v.pulse ? "Pulse" : "Tone"),
      "Modem Init String: " + Printable(QString::fromStdString(s.InitString)),
      "Modem Reset String: " + Printable(QString::fromStdString(s.ResetString)),
      "Post Reset String: " + Printable(QString::fromStdString(s.AfterString)),
      "Station ID (Fax #): " + QString::fromStdString(s.Fax),
      "Dial Attempts: " + QString::number(v.dialAttempts),
      "Retry in: " + QString::number(v.retryWaitSecs) + " seconds",
  };
  if (s.BlindDial) lines << "Blind Dial is ACTIVE";
  if (s.IgnoreBusy) lines << "Ignore Busy is ACTIVE";
  if (s.ECM) lines << "Using Error Correction";
  return lines;
}

QStringList CallPortLogEntries(const TSettings& s, const TDialFields& dial) {
  const TSendSettings v = SoundSendSettings(s);
  QStringList e{"Start_of_fax_session", "DesiredBPS_" + QString::number(v.maximumBps)};
  if (s.ECM) e << "DesiredECM_ON";
  if (s.BlindDial) e << "BlindDial_ON";
  if (s.IgnoreBusy) e << "Ignore Busy_ON";
  if (s.RenegotiateBetween) e << "Negotiate_between_pages_ON";
  e << "Phone_" + dial.number;
  if (dial.prefixOn) e << "DialPrefix_" + dial.prefix;
  if (dial.suffixOn) e << "DialSuffix_" + dial.suffix;
  if (v.pulse) e << "PulseDialing";
  e << "FaxClass_" + QString::fromStdString(FaxClassName(v.faxClass)) << "StationID_" + QString::fromStdString(s.Fax)
    << "UserINITString_" + QString::fromStdString(s.InitString);
  return e;
}

QStringList CallSessionLogLines(const TSettings& s, const TDialFields& dial) {
  const TSendSettings v = SoundSendSettings(s);
  QStringList l{"Desired BPS: " + QString::number(v.maximumBps)};
  if (s.ECM) l << "Desired ECM: ON";
  if (s.BlindDial) l << "Blind Dial: ON";
  if (s.IgnoreBusy) l << "Ignore Busy: ON";
  l << (s.RenegotiateBetween ? "Negotiate between pages: ON" : "Negotiate between pages: OFF");
  l << "Fax#: " + dial.number;
  if (dial.prefixOn) l << "Dial Prefix: " + dial.prefix;
  if (dial.suffixOn) l << "Dial Suffix: " + dial.suffix;
  if (v.pulse) l << "Using Pulse Dialing ***";
  l << "Fax Class: " + QString::fromStdString(FaxClassName(v.faxClass)) << "StationID: " + QString::fromStdString(s.Fax)
    << "User INIT String: " + QString::fromStdString(s.InitString);
  return l;
}

std::string ModemInitCommand(const std::string& initString) {
  std::string upper = initString;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find("AT") != std::string::npos ? initString : "AT" + initString;
}

std::optional<QString> CheckFaxNumber(const QString& number) {
  const QString trimmed = number.trimmed();
  if (trimmed.isEmpty())
    return QString("There is no fax number to dial.\r\n\r\nPlease type the number of the fax machine you are "
                   "sending to into the Fax # field.");
  bool digit = false;
  for (QChar c : trimmed) {
    if (c.isDigit() && c.unicode() < 128) {
      digit = true;
      continue;
    }
    if (!IsDialSymbol(c))
      return "The fax number \"" + Printable(trimmed) +
             "\" holds characters a modem cannot dial.\r\n\r\nPlease type the number with digits; blanks, dashes, "
             "brackets, \"+\", \"*\", \"#\" and \",\" (a pause) may stand between them.";
  }
  if (!digit)
    return "The fax number \"" + Printable(trimmed) + "\" has no digits.\r\n\r\nPlease type the number to dial.";
  return std::nullopt;
}

std::optional<QString> CheckDialAddition(const QString& text, const QString& what) {
  for (QChar c : text) {
    const bool modifier = QStringLiteral("WwPpTt!@").contains(c);
    if ((c.isDigit() && c.unicode() < 128) || IsDialSymbol(c) || modifier) continue;
    return "The dial " + what + " \"" + Printable(text) +
           "\" holds characters a modem cannot dial.\r\n\r\nPlease use digits, \",\" (a pause) and the dial "
           "modifiers W, P, T, \"!\" and \"@\" only, or check the box that disables the " + what + ".";
  }
  return std::nullopt;
}

std::optional<QString> CheckModemString(const std::string& command, const QString& what) {
  for (unsigned char c : command)
    if (c < 0x20 || c == 0x7F)
      return "The " + what + " \"" + Printable(QString::fromStdString(command)) +
             "\" holds control characters (shown here as \"?\"), which the modem would take as the end of the "
             "command.\r\n\r\nPlease correct it on the Preferences screen.";
  return std::nullopt;
}

std::optional<QString> CheckFaxFile(const std::filesystem::path& file) {
  const QString name = QString::fromStdString(file.filename().string());
  auto damaged = [&](const QString& why) {
    return "The fax file " + name + " cannot be sent: " + why +
           "\r\n\r\nThe file may have been damaged or cut short. Please make the fax again.";
  };
  TFxApfReader reader;
  if (const int rc = reader.Open(file); rc != 0)
    return rc == fxcode::ecFaxBadFormat ? damaged("it is not a fax image (APF) file.")
                                        : damaged(QString::fromStdString(FxErrorText(rc)) + ".");
  if (reader.PageCount() == 0) return damaged("it holds no pages.");
  for (unsigned p = 1; p <= reader.PageCount(); ++p) {
    ApfPageHeader page{};
    const int rc = reader.ReadPageData(p, page, [](const uint8_t*, size_t, uint64_t, uint64_t) { return true; });
    if (rc != 0) return damaged("page " + QString::number(p) + " of " + QString::number(reader.PageCount()) +
                                " is incomplete.");
  }
  TFxFaxUnpacker unpacker;
  unpacker.SetOptions(0);
  unpacker.SetInFileName(file.string());
  for (unsigned p = 1; p <= reader.PageCount(); ++p) {
    TFxBitmap bitmap;
    if (unpacker.TryPageToBitmap(p, bitmap) != 0)
      return damaged("page " + QString::number(p) + " cannot be read.");
  }
  return std::nullopt;
}

std::string Short255(const std::string& s) { return s.size() > 255 ? s.substr(0, 255) : s; }
