#pragma once
// Error codes of the serial port layer and the exceptions it raises for
// misuse. Codes are negative; 0 is success. The wider engine exception tree
// builds on EFxException.

#include <stdexcept>
#include <string>

namespace fxcode {
constexpr int ecOK = 0;
constexpr int ecBadArgument = -1002;           // slot, kind or size out of range
constexpr int ecBadPortNumber = -2001;         // device does not exist
constexpr int ecPortInUse = -2005;             // locked by another program
constexpr int ecAlreadyOpen = -2008;           // device busy / opened exclusively elsewhere
constexpr int ecNoPortSelected = -2011;        // ComNumber 0 and no port chosen
constexpr int ecNotOpenedByTapi = -2012;       // TapiMode tmOn: there is no telephony
constexpr int ecOutputBufferTooSmall = -3006;  // block does not fit the output ring
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecBadTriggerHandle = -5003;
}  // namespace fxcode

// Short texts for the codes above, used as exception messages.
std::string PortErrorText(int code);

class EFxException : public std::runtime_error {
 public:
  EFxException(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  explicit EFxException(int code) : EFxException(code, PortErrorText(code)) {}
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

class EGeneral : public EFxException {
  using EFxException::EFxException;
};
class EBadArgument : public EGeneral {
  using EGeneral::EGeneral;
};
class EOpenComm : public EFxException {
  using EFxException::EFxException;
};
class ESerialIO : public EFxException {
  using EFxException::EFxException;
};
class EOutputBufferTooSmall : public ESerialIO {
  using ESerialIO::ESerialIO;
};
class ETrigger : public EFxException {
  using EFxException::EFxException;
};
class EBadTriggerHandle : public ETrigger {
  using ETrigger::ETrigger;
};

// Raises the exception class that belongs to code.
[[noreturn]] void RaiseFxError(int code);
