#include "faxengine/session/FxExceptions.h"

#include "faxengine/session/FaxCodes.h"
#include "faxengine/text/FxStrings.h"

std::string EFxException::DefaultText(int code) {
  return FxHasErrorText(code) ? FxErrorText(code) : "Fax engine exception";
}

void RaiseFxError(int code) {
  using namespace fxcode;
  switch (code) {
    case ecBadArgument: throw EBadArgument(code);
    case ecGotQuitMsg: throw EGotQuitMsg(code);
    case ecPortNotAssigned: throw EPortNotAssigned(code);
    case ecInternal: throw EInternal(code);
    case ecCannotUseWithWinSock: throw ECannotUseWithWinSock(code);
    case ecBadPortNumber: throw EBadId(code);
    case ecPortInUse: throw EPortInUse(code);
    case ecAlreadyOpen: throw EAlreadyOpen(code);
    case ecNoPortSelected: throw ENoPortSelected(code);
    case ecNotOpenedByTapi: throw EOpenComm(code);
    case ecOutputBufferTooSmall: throw EOutputBufferTooSmall(code);
    case ecBadTriggerHandle: throw EBadTriggerHandle(code);
    case ecTimeout: throw EProtocol(code);
    case ecFaxBadFormat: throw EFaxBadFormat(code);
    case ecConvertAbort: throw EConvertAbort(code);
    case ecCantMakeBitmap: throw ECantMakeBitmap(code);
    case ecFaxBadMachine: throw EFaxBadMachine(code);
    case ecFaxBadModemResult: throw EFaxBadModemResult(code);
    case ecFaxTrainError: throw EFaxTrainError(code);
    case ecFaxInitError: throw EFaxInitError(code);
    case ecFaxBusy: throw EFaxBusy(code);
    case ecFaxVoiceCall: throw EFaxVoiceCall(code);
    case ecFaxDataCall: throw EFaxDataCall(code);
    case ecFaxNoDialTone: throw EFaxNoDialTone(code);
    case ecFaxNoCarrier: throw EFaxNoCarrier(code);
    case ecFaxSessionError: throw EFaxSessionError(code);
    case ecFaxPageError: throw EFaxPageError(code);
    default:
      if (code <= -2 && code >= -162) throw EInOutError(code);
      throw EFxException(code);
  }
}
