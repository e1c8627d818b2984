#pragma once
// Error codes and exceptions of the serial port layer: the engine-wide codes
// and exception tree.

#include "faxengine/session/FaxCodes.h"
#include "faxengine/session/FxExceptions.h"

// Short text of a code, used as exception message.
std::string PortErrorText(int code);
