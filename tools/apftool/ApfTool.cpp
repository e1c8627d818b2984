#include "tools/apftool/ApfTool.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>

#include "faximage/Apf.h"
#include "faximage/ErrorCodes.h"
#include "faximage/FaxConverter.h"
#include "faximage/FaxExport.h"
#include "faximage/FaxUnpacker.h"
#include "tools/apftool/ImportCommand.h"

namespace {

constexpr const char* kUsage =
    "usage: apftool info FILE\n"
    "       apftool convert IN OUT.apf [--fine] [--wide] [--station ID]\n"
    "                 IN is a PBM, BMP or plain text file\n"
    "       apftool export FILE PAGE OUT   (OUT ending in .bmp, .pcx, .dcx or .pbm)\n"
    "       apftool export FILE OUT        (OUT ending in .pdf, .tif or .tiff: the whole fax)\n"
    "       apftool import IN OUT.apf [--fine|--normal] [--photo|--text] [--station ID]\n"
    "                 IN is a PDF, PostScript, TIFF, PNG, JPEG, BMP, GIF or text file\n"
    "       apftool cat FIRST SECOND OUT\n"
    "       apftool cover TEMPLATE.FCT OUT.apf [--to NAME] [--regarding TEXT] [--message FILE] ...\n";

int Fail(std::ostream& err, int code, const std::string& what) {
  err << "apftool: " << what << ": " << FxImageErrorText(code) << " (" << code << ")\n";
  return 1;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string DosTimeText(uint32_t t) {
  if (t == 0) return "unknown";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", ((t >> 25) & 0x7F) + 1980, (t >> 21) & 0x0F,
                (t >> 16) & 0x1F, (t >> 11) & 0x1F, (t >> 5) & 0x3F, (t & 0x1F) * 2);
  return buf;
}

int Info(const std::string& file, std::ostream& out, std::ostream& err) {
  TFxApfReader r;
  if (const int rc = r.Open(file); rc < 0) return Fail(err, rc, file);
  out << "File:       " << file << "\n"
      << "Station ID: " << r.Header().stationId << "\n"
      << "Created:    " << DosTimeText(r.Header().creationTime) << "\n"
      << "Pages:      " << r.PageCount() << "\n";
  for (unsigned p = 1; p <= r.PageCount(); ++p) {
    ApfPageHeader h;
    uint64_t offset = 0;
    if (const int rc = r.FindPage(p, h, offset); rc < 0) return Fail(err, rc, file + ", page " + std::to_string(p));
    out << "Page " << std::setw(3) << p << ": " << (h.HighRes() ? "fine  " : "normal") << " " << h.Width() << " pixels, "
        << (h.LengthWords() ? "length words" : "stream") << ", " << h.imageLength << " bytes\n";
  }
  return 0;
}

int Convert(const std::vector<std::string>& args, std::ostream& err) {
  std::vector<std::string> files;
  bool fine = false, wide = false;
  std::string station;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--fine") {
      fine = true;
    } else if (args[i] == "--wide") {
      wide = true;
    } else if (args[i] == "--station" && i + 1 < args.size()) {
      station = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      err << kUsage;
      return 2;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) {
    err << kUsage;
    return 2;
  }
  const std::string& in = files[0];
  std::ifstream probe(in, std::ios::binary);
  if (!probe) return Fail(err, FxErr::ecFileNotFound, in);
  char magic[2] = {};
  probe.read(magic, 2);

  TFxFaxConverter c;
  c.Resolution = fine ? TFaxResolution::frHigh : TFaxResolution::frNormal;
  c.Width = wide ? TFaxWidth::fwWide : TFaxWidth::fwNormal;
  c.StationID = station;
  c.OutFileName = files[1];
  int rc = 0;
  if (magic[0] == 'P' && (magic[1] == '1' || magic[1] == '4')) {
    TFxBitmap b;
    rc = ApfToolLoadPbm(in, b);
    // A page image is taken as it is: no margin, centred when narrower.
    c.LeftMargin = 0;
    c.SetOptions(coCenterImage);
    if (rc == 0) rc = c.TryConvertBitmap(b);
  } else if (magic[0] == 'B' && magic[1] == 'M') {
    c.LeftMargin = 0;
    c.SetOptions(coCenterImage);
    c.InputDocumentType = TFaxInputDocumentType::idBmp;
    c.SetDocumentFile(in);
    c.OutFileName = files[1];
    rc = c.TryConvertToFile();
  } else {
    c.InputDocumentType = TFaxInputDocumentType::idText;
    c.SetDocumentFile(in);
    c.OutFileName = files[1];
    rc = c.TryConvertToFile();
  }
  if (rc < 0) return Fail(err, rc, in);
  return 0;
}

// The page as decoded: full page width, one row per coded line.
int ExportPbm(const std::string& file, unsigned page, const std::string& outName) {
  TFxApfReader r;
  if (const int rc = r.Open(file); rc < 0) return rc;
  ApfPageHeader h;
  uint64_t offset = 0;
  if (const int rc = r.FindPage(page, h, offset); rc < 0) return rc;
  const unsigned bytes = h.Width() / 8;
  std::vector<uint8_t> rows;
  TFxFaxUnpacker u;
  u.SetInFileName(file);
  u.OnOutputLine = [&](TFxFaxUnpacker&, bool starting, bool ending, const uint8_t* data, unsigned len, unsigned) {
    if (starting || ending) return;
    const size_t at = rows.size();
    rows.resize(at + bytes, 0);
    std::memcpy(rows.data() + at, data, std::min(len, bytes));
  };
  try {
    u.UnpackPage(page);
  } catch (const EFxImageError& e) {
    return e.ErrorCode();
  }
  std::ofstream out(outName, std::ios::binary);
  out << "P4\n" << h.Width() << " " << rows.size() / bytes << "\n";
  out.write(reinterpret_cast<const char*>(rows.data()), static_cast<std::streamsize>(rows.size()));
  out.close();
  if (!out) {
    std::error_code ec;
    std::filesystem::remove(outName, ec);
    return -EIO;
  }
  return 0;
}

// The whole fax as a TIFF Class F or PDF file.
int ExportDocument(const std::string& file, const std::string& outName, std::ostream& err) {
  const std::string ext = Lower(std::filesystem::path(outName).extension().string());
  FxExportResult result;
  int rc = 0;
  if (ext == ".pdf") {
    rc = FxExportPdf(file, outName, result);
  } else if (ext == ".tif" || ext == ".tiff") {
    rc = FxExportTiff(file, outName, result);
  } else {
    err << "apftool: the output name must end in .pdf, .tif or .tiff\n";
    return 2;
  }
  if (rc == FxErr::ecBadArgument && result.pagesInFile == 0) {
    err << "apftool: " << file << ": the fax has no pages\n";
    return 1;
  }
  if (rc < 0) return Fail(err, rc, file);
  if (result.pagesWritten < result.pagesInFile) {
    err << "apftool: " << file << ": damaged after page " << result.pagesWritten << "; exported "
        << result.pagesWritten << " of " << result.pagesInFile << " pages\n";
  }
  return 0;
}

int Export(const std::vector<std::string>& args, std::ostream& err) {
  if (args.size() == 3) return ExportDocument(args[1], args[2], err);
  if (args.size() != 4) {
    err << kUsage;
    return 2;
  }
  const std::string& file = args[1];
  char* end = nullptr;
  const unsigned long page = std::strtoul(args[2].c_str(), &end, 10);
  if (end == args[2].c_str() || *end != '\0' || page == 0 || page > 65535) {
    err << "apftool: bad page number: " << args[2] << "\n";
    return 2;
  }
  const std::string& outName = args[3];
  const std::string ext = Lower(std::filesystem::path(outName).extension().string());
  int rc = 0;
  if (ext == ".pbm") {
    rc = ExportPbm(file, static_cast<unsigned>(page), outName);
  } else if (ext == ".bmp" || ext == ".pcx" || ext == ".dcx") {
    TFxFaxUnpacker u;
    u.SetInFileName(file);
    u.SetOutFileName(outName);
    rc = u.TryPageToFile(static_cast<unsigned>(page), ext.substr(1));
  } else {
    err << "apftool: the output name must end in .bmp, .pcx, .dcx or .pbm\n";
    return 2;
  }
  if (rc < 0) return Fail(err, rc, file + ", page " + std::to_string(page));
  return 0;
}

}  // namespace

int ApfToolLoadPbm(const std::string& path, TFxBitmap& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return FxErr::ecFileNotFound;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = 2;
  auto number = [&](unsigned& v) {
    for (;;) {
      while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
      if (pos < data.size() && data[pos] == '#') {
        while (pos < data.size() && data[pos] != '\n') ++pos;
        continue;
      }
      break;
    }
    if (pos >= data.size() || !std::isdigit(static_cast<unsigned char>(data[pos]))) return false;
    uint64_t n = 0;
    while (pos < data.size() && std::isdigit(static_cast<unsigned char>(data[pos])) && n <= 1000000) n = n * 10 + static_cast<unsigned>(data[pos++] - '0');
    v = static_cast<unsigned>(n);
    return n > 0 && n <= 65535;
  };
  unsigned width = 0, height = 0;
  if (data.size() < 2 || data[0] != 'P' || (data[1] != '1' && data[1] != '4') || !number(width) || !number(height)) {
    return FxErr::ecBadArgument;
  }
  out = TFxBitmap::MakeMono(width, height);
  if (data[1] == '4') {
    ++pos;  // the single whitespace after the height
    const size_t rowBytes = (width + 7) / 8;
    if (data.size() - std::min(pos, data.size()) < rowBytes * height) return FxErr::ecBadArgument;
    for (unsigned y = 0; y < height; ++y) {
      for (unsigned x = 0; x < width; ++x) {
        if (static_cast<uint8_t>(data[pos + y * rowBytes + x / 8]) & (0x80u >> (x % 8))) out.SetBlack(x, y, true);
      }
    }
  } else {
    for (unsigned y = 0; y < height; ++y) {
      for (unsigned x = 0; x < width; ++x) {
        while (pos < data.size() && data[pos] != '0' && data[pos] != '1') ++pos;
        if (pos >= data.size()) return FxErr::ecBadArgument;
        if (data[pos++] == '1') out.SetBlack(x, y, true);
      }
    }
  }
  return 0;
}

int ApfToolMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return 2;
  }
  const std::string& cmd = args[0];
  if (cmd == "info" && args.size() == 2) return Info(args[1], out, err);
  if (cmd == "convert") return Convert(args, err);
  if (cmd == "export") return Export(args, err);
  if (cmd == "import") return ApfToolImport(args, out, err, {});
  if (cmd == "cat" && args.size() == 4) {
    std::error_code ec;
    if (std::filesystem::equivalent(args[1], args[3], ec) || std::filesystem::equivalent(args[2], args[3], ec)) {
      err << "apftool: the output must not be one of the inputs\n";
      return 2;
    }
    if (const int rc = ApfConcatenate(args[1], args[2], args[3]); rc < 0) {
      // Unlike the viewer's temporary file, a half-joined result is of no use here.
      std::filesystem::remove(args[3], ec);
      return Fail(err, rc, args[3]);
    }
    return 0;
  }
  err << kUsage;
  return 2;
}
