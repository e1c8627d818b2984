// cvfax: sends or receives faxes through a fax modem from the command line,
// printing the progress texts as they change. Exit status 0 on success; on
// failure the error code's text and status 1 (2 for a usage error).

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "faxengine/port/ComPort.h"
#include "faxengine/session/AbstractFax.h"
#include "faxengine/session/FxExceptions.h"
#include "faxengine/text/FxStrings.h"

namespace {

const char* const kUsage =
    "Usage:\n"
    "  cvfax send --port PATH --class 2|2.0|1|auto --number N [--cover F] [--header TEXT]\n"
    "             [--station ID] [--bps N] [--keep-parameters] FILE...\n"
    "  cvfax receive --port PATH --class 2|2.0|1|auto --dir DIR [--rings N] [--bps N] [--once]\n";

TPlainExecutor* gExecutor = nullptr;
TFxAbstractFax* gFax = nullptr;
volatile std::sig_atomic_t gInterrupted = 0;

void OnSignal(int) { gInterrupted = 1; }

struct TArgs {
  std::string mode, port, faxClass = "auto", number, cover, header, station, dir;
  int bps = 9600;
  int rings = 1;
  bool once = false;
  bool keep = false;
  std::vector<std::string> files;
};

bool Parse(int argc, char** argv, TArgs& a, std::string& error) {
  if (argc < 2) {
    error = "no command";
    return false;
  }
  a.mode = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string o = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = o + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (o == "--port") {
      if (!value(a.port)) return false;
    } else if (o == "--class") {
      if (!value(a.faxClass)) return false;
    } else if (o == "--number") {
      if (!value(a.number)) return false;
    } else if (o == "--cover") {
      if (!value(a.cover)) return false;
    } else if (o == "--header") {
      if (!value(a.header)) return false;
    } else if (o == "--station") {
      if (!value(a.station)) return false;
    } else if (o == "--dir") {
      if (!value(a.dir)) return false;
    } else if (o == "--bps" || o == "--rings") {
      if (!value(v)) return false;
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (*end != '\0' || n < 0 || n > 100000) {
        error = o + ": not a number: " + v;
        return false;
      }
      (o == "--bps" ? a.bps : a.rings) = static_cast<int>(n);
    } else if (o == "--once") {
      a.once = true;
    } else if (o == "--keep-parameters") {
      a.keep = true;
    } else if (!o.empty() && o[0] == '-') {
      error = "unknown option " + o;
      return false;
    } else {
      a.files.push_back(o);
    }
  }
  if (a.mode != "send" && a.mode != "receive") {
    error = "unknown command " + a.mode;
    return false;
  }
  if (a.port.empty()) {
    error = "--port is required";
    return false;
  }
  if (a.mode == "send" && (a.number.empty() || (a.files.empty() && a.cover.empty()))) {
    error = "send needs --number and at least one file or a cover";
    return false;
  }
  if (a.mode == "receive" && a.dir.empty()) {
    error = "receive needs --dir";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TArgs args;
  std::string error;
  if (!Parse(argc, argv, args, error)) {
    std::cerr << "cvfax: " << error << "\n" << kUsage;
    return 2;
  }
  TFaxClass faxClass = TFaxClass::fcDetect;
  if (args.faxClass == "2") {
    faxClass = TFaxClass::fcClass2;
  } else if (args.faxClass == "2.0") {
    faxClass = TFaxClass::fcClass2_0;
  } else if (args.faxClass == "1" && args.mode == "send") {
    faxClass = TFaxClass::fcClass1;
  } else if (args.faxClass == "1") {
    faxClass = TFaxClass::fcClass1;
  } else if (args.faxClass != "auto") {
    std::cerr << "cvfax: unknown class " << args.faxClass << "\n" << kUsage;
    return 2;
  }

  TPlainExecutor executor;
  gExecutor = &executor;
  TFxComPort port;
  port.SetHostExecutor(&executor);
  port.SetDeviceName(args.port);
  port.SetComNumber(1);
  port.SetPromptForPort(false);
  port.SetAutoOpen(false);

  TFxSendFax sender;
  TFxReceiveFax receiver;
  TFxAbstractFax& fax = args.mode == "send" ? static_cast<TFxAbstractFax&>(sender) : receiver;
  gFax = &fax;
  fax.SetComPort(&port);
  fax.FaxClass = faxClass;
  fax.SetStationID(args.station);
  fax.DesiredBPS = static_cast<uint16_t>(args.bps);
  TFxTextFaxStatus status;
  fax.StatusDisplay = &status;
  int finalCode = 1;
  bool done = false;
  fax.OnFaxFinish = [&](TFxAbstractFax&, int code) {
    finalCode = code;
    done = true;
    executor.Quit();
  };
  fax.OnFaxLog = [&](TFxAbstractFax& f, int code) {
    if (code == 5) std::printf("Received %s\n", receiver.FaxFile().empty() ? "" : receiver.FaxFile().c_str());
    (void)f;
    std::fflush(stdout);
  };
  receiver.OnFaxName = [&](TFxReceiveFax& r, std::string& name) {
    name = r.DefaultFaxName();
    std::printf("Receiving into %s\n", name.c_str());
  };

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  try {
    port.SetOpen(true);
    if (args.mode == "send") {
      sender.SetPhoneNumber(args.number);
      sender.SetFaxFileList(args.files);
      sender.SetCoverFile(args.cover);
      sender.HeaderLine = args.header;
      sender.KeepPageParameters = args.keep;
      sender.ExitOnError = true;
      sender.StartTransmit();
    } else {
      receiver.DestinationDir = args.dir;
      receiver.AnswerOnRing = args.rings;
      receiver.OneFax = args.once;
      receiver.StartReceive();
    }
  } catch (const EFxException& e) {
    std::cerr << "cvfax: " << e.what() << " (" << e.ErrorCode() << ")\n";
    return 1;
  }
  bool cancelSent = false;
  while (!done) {
    executor.RunFor(std::chrono::milliseconds(100));
    if (gInterrupted && !cancelSent) {
      cancelSent = true;
      fax.AbortFax();
    }
  }
  port.SetOpen(false);
  if (finalCode != 0) {
    std::cerr << "cvfax: " << FxErrorText(finalCode) << " (" << finalCode << ")\n";
    return 1;
  }
  return 0;
}
