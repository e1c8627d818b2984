#include "docimport/DocImport.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <cstring>
#include <fstream>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include "docimport/HelperProcess.h"
#include "docimport/ImportPage.h"
#include "docimport/PbmStream.h"
#include "docimport/TiffImport.h"
#include "faximage/FaxConverter.h"

namespace {

bool HasExtension(const std::filesystem::path& file, std::initializer_list<const char*> extensions) {
  const std::string ext = file.extension().string();
  return std::any_of(extensions.begin(), extensions.end(),
                     [&](const char* e) { return strcasecmp(ext.c_str(), e) == 0; });
}

bool KeepGoing(const FxImportOptions& options, unsigned done, unsigned total) {
  return !options.progress || options.progress(done, total);
}

void SilencePoppler() {
  // Poppler reports every oddity of a damaged file on stderr; the import
  // reports its own outcome instead.
  poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
}

// Where each page of a PDF lands on the fax; an empty fit (width 0) for a
// page without a usable size.
struct PdfPagePlan {
  FxPageFit fit;
  bool usable = false;
};

// Renders one page through poppler and adds it; false when it was skipped.
class PopplerPages {
 public:
  PopplerPages(poppler::document& doc, bool fine) : doc_(doc), fine_(fine) {
    renderer_.set_image_format(poppler::image::format_gray8);
    // Without antialiasing text and rules come out solid black: thin rules
    // keep at least one pixel and strokes need no threshold.
    renderer_.set_render_hints(0);
    renderer_.set_paper_color(0xFFFFFFFFu);
  }
  int Add(int i, const FxPageFit& fit, FxImportSink& sink, const FxImportOptions& options, FxImportResult& result) {
    const std::string which = "Page " + std::to_string(i + 1);
    std::unique_ptr<poppler::page> page(doc_.create_page(i));
    if (!page) {
      result.warnings.push_back(which + " could not be read.");
      ++result.pagesSkipped;
      return 0;
    }
    poppler::image image = renderer_.render_page(page.get(), fit.dpiX, fit.dpiY);
    if (!image.is_valid() || image.format() != poppler::image::format_gray8 || image.width() <= 0 ||
        image.height() <= 0) {
      result.warnings.push_back(which + " could not be rendered.");
      ++result.pagesSkipped;
      return 0;
    }
    const FxGreyView grey{reinterpret_cast<const uint8_t*>(image.const_data()),
                          std::min(static_cast<unsigned>(image.width()), kImportFaxWidth),
                          static_cast<unsigned>(image.height()), static_cast<size_t>(image.bytes_per_row())};
    if (const int rc = sink.AddGreyPage(grey, fine_, options.toning); rc != 0) {
      result.error = "The fax file could not be written.";
      return rc;
    }
    return 0;
  }

 private:
  poppler::document& doc_;
  bool fine_;
  poppler::page_renderer renderer_;
};

// Ghostscript renders a run of pages of one size straight to one bit
// (pbmraw) at fax resolution, fitted onto a page of exactly that size, and
// the rows come through a pipe. pagesDone counts the pages added; on
// failure the caller renders the rest itself. *started is false when
// Ghostscript could not be run at all.
int RenderRunWithGhostscript(const std::filesystem::path& in, int first, int last, const FxPageFit& fit,
                             FxImportSink& sink, const FxImportOptions& options, unsigned total, int& pagesDone,
                             bool& started, std::string& problem) {
  const bool fine = options.resolution == FxImportResolution::fine;
  const std::vector<std::string> argv{
      options.ghostscript, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pbmraw",
      std::string("-r204x") + (fine ? "196" : "98"), "-dFIXEDMEDIA", "-dPDFFitPage",
      "-g" + std::to_string(fit.width) + "x" + std::to_string(fit.height),
      "-dFirstPage=" + std::to_string(first + 1), "-dLastPage=" + std::to_string(last + 1),
      "-sstdout=%stderr", "-sOutputFile=-", "-f", std::filesystem::absolute(in).string()};
  const unsigned left = (kImportFaxWidth - fit.width) / 2;
  std::vector<uint8_t> line(kImportFaxWidth / 8);
  FxPbmStream stream(kImportFaxWidth, 200000);
  int failed = 0;
  stream.pageStart = [&](unsigned width, unsigned height) {
    if (width != fit.width || height != fit.height) {
      problem = "the page has an unexpected size";
      return ecImportDamaged;
    }
    return sink.BeginMonoPage(fine, kImportFaxWidth);
  };
  stream.row = [&](const uint8_t* row) {
    std::fill(line.begin(), line.end(), 0);
    // Centred on the fax line: the row's bits shifted right by left.
    const unsigned shift = left % 8, bytes = (fit.width + 7) / 8;
    uint8_t* out = line.data() + left / 8;
    for (unsigned b = 0; b < bytes; ++b) {
      out[b] = static_cast<uint8_t>(out[b] | (row[b] >> shift));
      if (shift != 0 && left / 8 + b + 1 < line.size())
        out[b + 1] = static_cast<uint8_t>(row[b] << (8 - shift));
    }
    if (fit.width % 8 != 0) {
      // Padding bits past the page's width are not ink.
      const unsigned end = left + fit.width;
      for (unsigned x = end; x < std::min(kImportFaxWidth, (end + 7) / 8 * 8 + 8); ++x)
        line[x / 8] = static_cast<uint8_t>(line[x / 8] & ~(0x80u >> (x % 8)));
    }
    return sink.AddMonoLine(line.data());
  };
  stream.pageEnd = [&] {
    ++pagesDone;
    return sink.EndPage();
  };
  const FxHelperOutcome run = FxRunHelperReading(
      argv, options.postScriptTimeLimit,
      [&] { return KeepGoing(options, static_cast<unsigned>(first + pagesDone), total); },
      [&](const uint8_t* data, size_t size) {
        failed = stream.Feed(data, size);
        return failed == 0;
      });
  started = run.started;
  if (!stream.BetweenPages()) sink.AbandonPage();
  if (run.cancelled) return ecImportCancelled;
  if (failed != 0 || run.timedOut || run.exitStatus != 0 || pagesDone != last - first + 1) {
    if (run.timedOut) {
      problem = "Ghostscript stopped answering";
    } else if (problem.empty()) {
      problem = !stream.Problem().empty() ? stream.Problem() : run.errorText;
    }
    return failed != 0 && failed != ecImportDamaged ? failed : ecImportToolFailed;
  }
  return 0;
}

int ImportPdf(const std::filesystem::path& in, FxImportSink& sink, const FxImportOptions& options,
              FxImportResult& result) {
  SilencePoppler();
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(in.string()));
  if (!doc) {
    result.error = "The file is not a readable PDF document.";
    return ecImportDamaged;
  }
  if (doc->is_locked()) {
    result.error = "The PDF document is protected by a password and cannot be opened.";
    return ecImportEncrypted;
  }
  const int count = doc->pages();
  if (count <= 0) {
    result.error = "The PDF document has no pages.";
    return ecImportNoPages;
  }
  const bool fine = options.resolution == FxImportResolution::fine;
  const auto total = static_cast<unsigned>(count);
  std::vector<PdfPagePlan> plans(total);
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) continue;
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    double w = box.width() / 72.0, h = box.height() / 72.0;
    const auto orientation = page->orientation();
    if (orientation == poppler::page::landscape || orientation == poppler::page::seascape) std::swap(w, h);
    if (!(w >= 1.0 / 72 && h >= 1.0 / 72) || w > 1e5 || h > 1e5) continue;
    plans[static_cast<size_t>(i)] = {FxFitPage(w, h, fine), true};
  }

  PopplerPages poppler(*doc, fine);
  // Ghostscript is the faster renderer for text and line art; forced
  // dithering of whole pages is the import's own, after poppler.
  bool useGhostscript = options.toning != FxImportToning::photo && !options.ghostscript.empty();
  for (int i = 0; i < count;) {
    if (!KeepGoing(options, static_cast<unsigned>(i), total)) {
      result.error = "The import was cancelled.";
      return ecImportCancelled;
    }
    const PdfPagePlan& plan = plans[static_cast<size_t>(i)];
    if (!plan.usable) {
      result.warnings.push_back("Page " + std::to_string(i + 1) + " has no usable size.");
      ++result.pagesSkipped;
      ++i;
      continue;
    }
    if (useGhostscript) {
      int last = i;
      while (last + 1 < count && plans[static_cast<size_t>(last + 1)].usable &&
             plans[static_cast<size_t>(last + 1)].fit.width == plan.fit.width &&
             plans[static_cast<size_t>(last + 1)].fit.height == plan.fit.height)
        ++last;
      int done = 0;
      bool started = false;
      std::string problem;
      const int rc = RenderRunWithGhostscript(in, i, last, plan.fit, sink, options, total, done, started, problem);
      if (rc == ecImportCancelled) {
        result.error = "The import was cancelled.";
        return rc;
      }
      i += done;
      if (rc == 0) continue;
      // Without Ghostscript, or where it failed, poppler renders the rest.
      useGhostscript = false;
      if (i <= last && started) result.warnings.push_back("Page " + std::to_string(i + 1) +
                                                          " was rendered again after Ghostscript failed: " + problem);
      continue;
    }
    if (const int rc = poppler.Add(i, plan.fit, sink, options, result); rc != 0) return rc;
    ++i;
  }
  return 0;
}

int ImportPostScript(const std::filesystem::path& in, FxImportSink& sink, const FxImportOptions& options,
                     FxImportResult& result) {
  // Ghostscript turns the program into a PDF file, which is then rendered
  // page by page like any other.
  std::filesystem::path pdf;
  if (const int rc = FxMakeTemporaryFile(std::filesystem::temp_directory_path(), "cvimport", ".pdf", pdf); rc != 0) {
    result.error = "No temporary file could be made.";
    return rc;
  }
  struct RemoveAtExit {
    std::filesystem::path path;
    ~RemoveAtExit() {
      std::error_code ec;
      std::filesystem::remove(path, ec);
    }
  } removePdf{pdf};
  const std::vector<std::string> argv{options.ghostscript, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                      "-sDEVICE=pdfwrite", "-sOutputFile=" + pdf.string(), "-f",
                                      std::filesystem::absolute(in).string()};
  const FxHelperOutcome run =
      FxRunHelper(argv, options.postScriptTimeLimit, [&] { return KeepGoing(options, 0, 0); });
  if (!run.started) {
    result.error = "Ghostscript (" + options.ghostscript + ") could not be started; it is needed for PostScript.";
    return ecImportToolFailed;
  }
  if (run.cancelled) {
    result.error = "The import was cancelled.";
    return ecImportCancelled;
  }
  if (run.timedOut) {
    result.error = "The PostScript file was still running after " +
                   std::to_string(options.postScriptTimeLimit.count() / 1000) + " seconds and was stopped.";
    return ecImportTimeLimit;
  }
  if (run.exitStatus != 0) {
    result.error = "Ghostscript could not read the PostScript file";
    result.error += run.errorText.empty() ? "." : ": " + run.errorText;
    return ecImportToolFailed;
  }
  return ImportPdf(pdf, sink, options, result);
}

int ImportImage(const std::filesystem::path& in, FxImportSink& sink, const FxImportOptions& options,
                FxImportResult& result) {
  if (!options.imageLoader) {
    result.error = "Images cannot be read in this build.";
    return ecImportUnknownFormat;
  }
  FxGreyImage image;
  if (const int rc = options.imageLoader(in, image, result.error); rc != 0) {
    if (result.error.empty()) result.error = "The image could not be read.";
    return rc;
  }
  if (image.width == 0 || image.height == 0 || image.pixels.size() != size_t{image.width} * image.height) {
    result.error = "The image is empty.";
    return ecImportDamaged;
  }
  if (!KeepGoing(options, 0, 1)) {
    result.error = "The import was cancelled.";
    return ecImportCancelled;
  }
  const bool fine = options.resolution == FxImportResolution::fine;
  FxPageFit fit;
  if (image.dpiX >= 50 && image.dpiY >= 50 && image.dpiX <= 4800 && image.dpiY <= 4800) {
    fit = FxFitPage(image.width / image.dpiX, image.height / image.dpiY, fine);
  } else {
    // Without a stated resolution the picture fills the fax width.
    const double widthInches = kImportFaxWidth / kImportDpiX;
    fit = FxFitPage(widthInches, widthInches * image.height / image.width, fine);
  }
  const FxGreyImage page = FxScaleGrey(image, fit.width, fit.height);
  image = FxGreyImage();
  if (const int rc = sink.AddGreyPage(page, fine, options.toning); rc != 0) {
    result.error = "The fax file could not be written.";
    return rc;
  }
  return 0;
}

// Text goes through the fax converter's own text reader and font.
int ImportText(const std::filesystem::path& in, const std::filesystem::path& out, const FxImportOptions& options,
               FxImportResult& result) {
  std::filesystem::path folder = out.parent_path();
  if (folder.empty()) folder = ".";
  std::filesystem::path temp;
  if (const int rc = FxMakeTemporaryFile(folder, out.filename().string(), ".apf", temp); rc != 0) {
    result.error = "No temporary file could be made beside the target.";
    return rc;
  }
  TFxFaxConverter converter;
  converter.SetOptions(coDoubleWidth | coCenterImage);
  converter.InputDocumentType = TFaxInputDocumentType::idText;
  converter.Resolution =
      options.resolution == FxImportResolution::fine ? TFaxResolution::frHigh : TFaxResolution::frNormal;
  converter.StationID = options.stationId;
  converter.SetDocumentFile(in.string());
  converter.OutFileName = temp.string();
  bool cancelled = false;
  converter.OnStatus = [&](TFxFaxConverter&, bool, bool, unsigned pages, unsigned, uint64_t, uint64_t, bool& abort) {
    if (!KeepGoing(options, pages, 0)) abort = cancelled = true;
  };
  const int rc = converter.TryConvertToFile();
  std::error_code ec;
  if (rc != 0) {
    std::filesystem::remove(temp, ec);
    result.error = cancelled ? "The import was cancelled." : "The text file could not be converted.";
    return cancelled ? ecImportCancelled : rc;
  }
  TFxApfReader reader;
  if (reader.Open(temp) == 0) result.pagesWritten = reader.PageCount();
  std::filesystem::rename(temp, out, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    result.error = "The fax file could not be given its name.";
    return -EIO;
  }
  return 0;
}

}  // namespace

FxImportFormat FxDetectImportFormat(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[1024] = {};
  in.read(head, sizeof head);
  const auto n = static_cast<size_t>(in.gcount());
  using namespace std::string_view_literals;
  const std::string_view bytes(head, n);
  auto starts = [&](std::string_view magic) { return bytes.substr(0, magic.size()) == magic; };
  if (starts("II*\0"sv) || starts("MM\0*"sv) || starts("II+\0"sv) || starts("MM\0+"sv))
    return FxImportFormat::tiff;
  if (bytes.find("%PDF-") != std::string_view::npos) return FxImportFormat::pdf;
  if (starts("%!") || starts("\xC5\xD0\xD3\xC6")) return FxImportFormat::postscript;
  if (starts("\x89PNG") || starts("\xFF\xD8\xFF") || starts("GIF8") || starts("BM"))
    return FxImportFormat::image;
  if (HasExtension(file, {".pdf"})) return FxImportFormat::pdf;
  if (HasExtension(file, {".ps", ".eps"})) return FxImportFormat::postscript;
  if (HasExtension(file, {".tif", ".tiff"})) return FxImportFormat::tiff;
  if (HasExtension(file, {".png", ".jpg", ".jpeg", ".bmp", ".gif"})) return FxImportFormat::image;
  if (HasExtension(file, {".txt", ".text"}) && bytes.find('\0') == std::string_view::npos)
    return FxImportFormat::text;
  return FxImportFormat::unknown;
}

int FxImportDocument(const std::filesystem::path& in, const std::filesystem::path& out,
                     const FxImportOptions& options, FxImportResult& result) {
  result = FxImportResult();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(in, ec)) {
    result.error = "The file " + in.string() + " does not exist.";
    return -2;
  }
  const FxImportFormat format = FxDetectImportFormat(in);
  if (format == FxImportFormat::unknown) {
    result.error = "The file is not a PDF, PostScript, TIFF, image or text file.";
    return ecImportUnknownFormat;
  }
  if (format == FxImportFormat::text) return ImportText(in, out, options, result);

  FxImportSink sink(out);
  if (const int rc = sink.Open(); rc != 0) {
    result.error = "The fax file could not be created beside " + out.string() + ".";
    return rc;
  }
  int rc = 0;
  switch (format) {
    case FxImportFormat::pdf: rc = ImportPdf(in, sink, options, result); break;
    case FxImportFormat::postscript: rc = ImportPostScript(in, sink, options, result); break;
    case FxImportFormat::tiff: rc = FxImportTiff(in, sink, options, result); break;
    case FxImportFormat::image: rc = ImportImage(in, sink, options, result); break;
    default: rc = ecImportUnknownFormat; break;
  }
  if (rc == 0 && sink.Pages() == 0) {
    rc = ecImportNoPages;
    result.error = result.warnings.empty() ? "The document has no pages that could be imported."
                                           : "No page could be imported: " + result.warnings.front();
  }
  if (rc == 0 && KeepGoing(options, sink.Pages(), sink.Pages())) {
    rc = sink.Commit(options.stationId);
    if (rc != 0) result.error = "The fax file could not be completed.";
  } else if (rc == 0) {
    rc = ecImportCancelled;
    result.error = "The import was cancelled.";
  }
  result.pagesWritten = rc == 0 ? sink.Pages() : 0;
  return rc;
}
