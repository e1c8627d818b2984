#include "tools/apftool/CoverCommand.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>
#include <filesystem>
#include <map>

#include "cover/CoverRenderer.h"
#include "cover/core/FctFile.h"
#include "faximage/ErrorCodes.h"

namespace {

constexpr const char* kCoverUsage =
    "usage: apftool cover TEMPLATE.FCT OUT.apf [--to NAME] [--to-fax NUMBER] [--from NAME]\n"
    "                 [--company NAME] [--from-fax NUMBER] [--phone NUMBER] [--regarding TEXT]\n"
    "                 [--date TEXT] [--time TEXT] [--message FILE] [--urgent] [--review]\n"
    "                 [--comment] [--reply] [--recycle] [--normal]\n";

// Messages longer than this are not read further; no cover page holds more.
constexpr uintmax_t kMaxMessageBytes = 1u << 20;

}  // namespace

int ApfToolCover(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 3) {
    err << kCoverUsage;
    return 2;
  }
  const std::map<std::string, TCoverFieldType> textOptions = {
      {"--to", cfRecipient},      {"--to-fax", cfRecipientFax}, {"--from", cfSender},
      {"--company", cfSenderCompany}, {"--from-fax", cfSenderFax}, {"--phone", cfSenderVoice},
      {"--regarding", cfRegarding}, {"--date", cfDate},          {"--time", cfTime}};
  const std::map<std::string, int> flags = {
      {"--urgent", 0}, {"--review", 1}, {"--comment", 2}, {"--reply", 3}, {"--recycle", 4}};

  // Fonts need a GUI application; without a display the offscreen one does.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "apftool";
  static char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);

  CoverFieldValues values;
  const QDateTime now = QDateTime::currentDateTime();
  values.Texts[cfDate] = QLocale().toString(now.date(), QLocale::LongFormat).toStdString();
  values.Texts[cfTime] = QLocale().toString(now.time(), QLocale::ShortFormat).toStdString();
  std::string message;
  TFaxResolution resolution = TFaxResolution::frHigh;
  for (size_t i = 3; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (auto t = textOptions.find(a); t != textOptions.end() && i + 1 < args.size()) {
      values.Texts[t->second] = args[++i];
    } else if (auto f = flags.find(a); f != flags.end()) {
      values.Importance[static_cast<size_t>(f->second)] = true;
    } else if (a == "--normal") {
      resolution = TFaxResolution::frNormal;
    } else if (a == "--message" && i + 1 < args.size()) {
      const std::string& file = args[++i];
      if (!ReadTemplateBytes(file, message)) {
        err << "apftool: cannot read the message file " << file << "\n";
        return 1;
      }
      if (message.size() > kMaxMessageBytes) message.resize(kMaxMessageBytes);
    } else {
      err << kCoverUsage;
      return 2;
    }
  }

  const std::filesystem::path fct = args[1];
  const TFctReadResult check = ReadFctFile(fct);
  if (check.Missing) {
    err << "apftool: no template " << args[1] << "\n";
    return 1;
  }
  if (!check.Error.empty())
    err << "apftool: " << args[1] << " is damaged (" << check.Error << "); drawing the " << check.Records.size()
        << " objects before the damage\n";
  try {
    const std::string written = RenderCoverPage(args[2], fct, values, message, resolution);
    out << written << "\n";
  } catch (const EFxImageError& e) {
    err << "apftool: " << args[2] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
