#include "tools/cvmodemline/Class2.h"

#include "tools/cvmodemline/Modem.h"

void TClass2Engine::SetClass(TFaxClass cls) { active_ = cls == TFaxClass::Class2 || cls == TFaxClass::Class20; }

TClass2Reply TClass2Engine::Command(const TAtCommand&) { return TClass2Reply::Error; }

void TClass2Engine::CallStarted(bool) {
  modem_.HangupCall();
  modem_.Result(TResult::NoCarrier);
}

void TClass2Engine::RemoteHungUp() { modem_.Result(TResult::NoCarrier); }
