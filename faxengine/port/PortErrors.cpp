#include "faxengine/port/PortErrors.h"

std::string PortErrorText(int code) { return EFxException::DefaultText(code); }
