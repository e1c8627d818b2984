#pragma once
// The checks and conversions behind the set-up windows' fields, kept apart
// from the windows so that each rule is one plain function.

#include <QString>

#include <filesystem>
#include <optional>

// What COM port n (one-based) is on this machine: "Com1 (/dev/ttyS0)", or
// the device [Ports] in iniFile names for it.
[[nodiscard]] QString PortChoiceText(int comNumber, const std::filesystem::path& iniFile);

// The position in the transfer rate list (2400 ... 14400) nearest to bps.
[[nodiscard]] int NearestRateIndex(int bps);

// The longest command line a modem is sure to take (the AT command standard
// asks every modem to accept at least this much after "AT").
inline constexpr int kMaxModemStringLength = 40;
// The dialling limits the send window works within.
inline constexpr int kMaxDialAttempts = 20;
inline constexpr int kMaxRetryWaitSecs = 3600;

// nullopt when text is a whole number from low to high, else what to tell
// the user about the field named what.
[[nodiscard]] std::optional<QString> CheckWholeNumber(const QString& text, int low, int high, const QString& what);
// nullopt when text can go to the modem as one command line: no line breaks
// or other control characters, and not longer than kMaxModemStringLength.
[[nodiscard]] std::optional<QString> CheckModemLine(const QString& text, const QString& what);
// nullopt when text holds no line breaks or other control characters, which
// would break the settings file's line structure.
[[nodiscard]] std::optional<QString> CheckPlainText(const QString& text, const QString& what);
