#include "faxengine/port/PortErrors.h"

std::string PortErrorText(int code) {
  using namespace fxcode;
  switch (code) {
    case ecBadArgument: return "Bad argument passed to function";
    case ecBadPortNumber: return "Bad port number";
    case ecPortInUse: return "Port is in use";
    case ecAlreadyOpen: return "Port already open";
    case ecNoPortSelected: return "No port selected";
    case ecNotOpenedByTapi: return "Port not opened by TAPI";
    case ecOutputBufferTooSmall: return "Output buffer too small for block";
    case ecNoMoreTriggers: return "No more trigger slots";
    case ecBadTriggerHandle: return "Bad trigger handle";
    default: return "Fax engine exception";
  }
}

void RaiseFxError(int code) {
  using namespace fxcode;
  switch (code) {
    case ecBadArgument: throw EBadArgument(code);
    case ecBadPortNumber:
    case ecPortInUse:
    case ecAlreadyOpen:
    case ecNoPortSelected:
    case ecNotOpenedByTapi: throw EOpenComm(code);
    case ecOutputBufferTooSmall: throw EOutputBufferTooSmall(code);
    case ecBadTriggerHandle: throw EBadTriggerHandle(code);
    default: throw EFxException(code);
  }
}
