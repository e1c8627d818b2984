#pragma once
// The engine's one exception tree. Every class carries the negative error
// code; its message is the code's text from the error table (or "Fax engine
// exception" for a code the table does not know). Misuse of a component
// raises; errors during a fax session are reported through events instead.

#include <stdexcept>
#include <string>

class EFxException : public std::runtime_error {
 public:
  EFxException(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  explicit EFxException(int code) : EFxException(code, DefaultText(code)) {}
  int ErrorCode() const { return code_; }
  static std::string DefaultText(int code);

 private:
  int code_;
};

#define FX_EXCEPTION(Name, Base)  \
  class Name : public Base {      \
   public:                        \
    using Base::Base;             \
  };

FX_EXCEPTION(EGeneral, EFxException)
FX_EXCEPTION(EOpenComm, EFxException)
FX_EXCEPTION(ESerialIO, EFxException)
FX_EXCEPTION(EModem, EFxException)
FX_EXCEPTION(ETrigger, EFxException)
FX_EXCEPTION(EProtocol, EFxException)
FX_EXCEPTION(EINI, EFxException)
FX_EXCEPTION(EFax, EFxException)
FX_EXCEPTION(ETapi, EFxException)
FX_EXCEPTION(EInOutError, EFxException)

FX_EXCEPTION(EBadArgument, EGeneral)
FX_EXCEPTION(EPortNotAssigned, EGeneral)
FX_EXCEPTION(EInternal, EGeneral)
FX_EXCEPTION(ECannotUseWithWinSock, EGeneral)
FX_EXCEPTION(EGotQuitMsg, EGeneral)

FX_EXCEPTION(EBadId, EOpenComm)
FX_EXCEPTION(EPortInUse, EOpenComm)
FX_EXCEPTION(EAlreadyOpen, EOpenComm)
FX_EXCEPTION(ENoPortSelected, EOpenComm)

FX_EXCEPTION(EOutputBufferTooSmall, ESerialIO)

FX_EXCEPTION(ETriggerTooLong, ETrigger)
FX_EXCEPTION(EBadTriggerHandle, ETrigger)

FX_EXCEPTION(EFaxBadFormat, EFax)
FX_EXCEPTION(EBadGraphicsFormat, EFax)
FX_EXCEPTION(EConvertAbort, EFax)
FX_EXCEPTION(EUnpackAbort, EFax)
FX_EXCEPTION(ECantMakeBitmap, EFax)
FX_EXCEPTION(EFaxBadMachine, EFax)
FX_EXCEPTION(EFaxBadModemResult, EFax)
FX_EXCEPTION(EFaxTrainError, EFax)
FX_EXCEPTION(EFaxInitError, EFax)
FX_EXCEPTION(EFaxBusy, EFax)
FX_EXCEPTION(EFaxVoiceCall, EFax)
FX_EXCEPTION(EFaxDataCall, EFax)
FX_EXCEPTION(EFaxNoDialTone, EFax)
FX_EXCEPTION(EFaxNoCarrier, EFax)
FX_EXCEPTION(EFaxSessionError, EFax)
FX_EXCEPTION(EFaxPageError, EFax)

#undef FX_EXCEPTION

// Raises the exception class that belongs to code.
[[noreturn]] void RaiseFxError(int code);
