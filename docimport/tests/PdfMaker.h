#pragma once
// Writes small PDF files by hand: each page a media box and a content
// stream, Helvetica as font F1. Enough for pages of text and rules with
// exact, known geometry.

#include <cstdio>
#include <string>
#include <vector>

struct HandPdfPage {
  double width = 612, height = 792;  // points
  std::string content;               // page description operators
};

inline std::string MakeHandPdf(const std::vector<HandPdfPage>& pages) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  const size_t n = pages.size();
  // 1 catalog, 2 page tree, 3 font, then per page: page, contents.
  object("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (size_t i = 0; i < n; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
  object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
  object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (size_t i = 0; i < n; ++i) {
    char box[96];
    std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", pages[i].width, pages[i].height);
    object("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(box) +
           " /Resources << /Font << /F1 3 0 R >> >> /Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
    object("<< /Length " + std::to_string(pages[i].content.size()) + " >>\nstream\n" + pages[i].content +
           "\nendstream");
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}
