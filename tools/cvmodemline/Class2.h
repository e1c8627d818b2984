#pragma once
// Class 2 and Class 2.0 service for a virtual modem.

#include <cstdint>

#include "tools/cvmodemline/AtParser.h"

class TVirtualModem;
enum class TFaxClass;

enum class TClass2Reply { Next, Error, Pending };

class TClass2Engine {
 public:
  explicit TClass2Engine(TVirtualModem& modem) : modem_(modem) {}
  void SetClass(TFaxClass cls);
  TClass2Reply Command(const TAtCommand& c);
  bool OwnsInput() const { return false; }
  void DteByte(uint8_t) {}
  void CallStarted(bool originate);
  void CallEnded() {}
  void RemoteHungUp();
  void Tick() {}
  int Tx(int16_t*, int) { return 0; }
  void Rx(const int16_t*, int) {}

 private:
  TVirtualModem& modem_;
  bool active_ = false;
};
