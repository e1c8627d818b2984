// Generates Corvane's built-in fax font (FaxFontData.cpp) from a TrueType
// font with FreeType. The resource is 16384 bytes: a small font of 256
// characters, 12 x 8 pixels (2 bytes per row, 16 bytes per character), at
// offset 0, and a standard font, 20 x 16 pixels (3 bytes per row, 48 bytes per
// character), at offset 4096. Rows top first, most significant bit leftmost,
// 1 = black. Character codes are Windows-1252 (Latin-1 plus the 0x80-0x9F
// punctuation); control codes stay blank.
//
// Fax pixels at normal resolution are about twice as high as wide (204 x 98
// dots per inch), so glyphs are rendered with twice the horizontal scale.
//
//   faxfontgen FONT.ttf OUT.cpp [PREVIEW.pbm]
#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct FontLayout {
  int cellWidth;
  int cellHeight;
  int bytesPerRow;
  int offset;
  int emRows;    // em height in pixel rows
  int baseline;  // rows above the baseline
};

constexpr FontLayout kSmall{12, 8, 2, 0, 8, 6};
constexpr FontLayout kStandard{20, 16, 3, 4096, 13, 13};

// Windows-1252 code points for 0x80..0x9F (0 = undefined).
constexpr std::array<uint32_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t CodePoint(int code) {
  if (code < 0x20 || code == 0x7F) return 0;
  if (code >= 0x80 && code < 0xA0) return kCp1252High[static_cast<size_t>(code - 0x80)];
  return static_cast<uint32_t>(code);
}

bool RenderFont(FT_Face face, const FontLayout& layout, std::vector<uint8_t>& out) {
  // Character size in 26.6 points at 72 dpi = pixels; twice as wide as high.
  if (FT_Set_Char_Size(face, layout.emRows * 2 * 64, layout.emRows * 64, 72, 72) != 0) return false;
  const int bytesPerChar = layout.bytesPerRow * layout.cellHeight;
  for (int code = 0; code < 256; ++code) {
    const uint32_t cp = CodePoint(code);
    if (cp == 0 || cp == 0x20 || cp == 0xA0) continue;
    const FT_UInt index = FT_Get_Char_Index(face, cp);
    if (index == 0) continue;
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) continue;
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bm = g->bitmap;
    const int advance = static_cast<int>(g->advance.x >> 6);
    const int left = (layout.cellWidth - advance) / 2 + g->bitmap_left;
    const int top = layout.baseline - g->bitmap_top;
    uint8_t* cell = out.data() + layout.offset + code * bytesPerChar;
    for (unsigned y = 0; y < bm.rows; ++y) {
      const int row = top + static_cast<int>(y);
      if (row < 0 || row >= layout.cellHeight) continue;
      const unsigned char* src = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
      for (unsigned x = 0; x < bm.width; ++x) {
        if (!(src[x >> 3] & (0x80 >> (x & 7)))) continue;
        const int col = left + static_cast<int>(x);
        if (col < 0 || col >= layout.cellWidth) continue;
        cell[row * layout.bytesPerRow + col / 8] |= static_cast<uint8_t>(0x80 >> (col % 8));
      }
    }
  }
  return true;
}

void WritePreview(const std::vector<uint8_t>& font, const char* path) {
  // 16 x 16 characters of each font, standard below small.
  const int width = 16 * 20, height = 16 * 8 + 16 * 16 + 4;
  std::vector<uint8_t> img(static_cast<size_t>(width * height), 0);
  for (const FontLayout* s : {&kSmall, &kStandard}) {
    const int y0 = s == &kSmall ? 0 : 16 * 8 + 4;
    for (int code = 0; code < 256; ++code) {
      const uint8_t* cell = font.data() + s->offset + code * s->bytesPerRow * s->cellHeight;
      for (int r = 0; r < s->cellHeight; ++r) {
        for (int c = 0; c < s->cellWidth; ++c) {
          if (cell[r * s->bytesPerRow + c / 8] & (0x80 >> (c % 8))) {
            img[static_cast<size_t>((y0 + (code / 16) * s->cellHeight + r) * width + (code % 16) * 20 + c)] = 1;
          }
        }
      }
    }
  }
  std::ofstream f(path);
  f << "P1\n" << width << " " << height << "\n";
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) f << (img[static_cast<size_t>(y * width + x)] ? "1 " : "0 ");
    f << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: faxfontgen FONT.ttf OUT.cpp [PREVIEW.pbm]\n");
    return 2;
  }
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) != 0 || FT_New_Face(lib, argv[1], 0, &face) != 0) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> font(16384, 0);
  if (!RenderFont(face, kSmall, font) || !RenderFont(face, kStandard, font)) {
    std::fprintf(stderr, "cannot size %s\n", argv[1]);
    return 1;
  }
  std::string name = argv[1];
  name = name.substr(name.find_last_of('/') + 1);
  std::ofstream out(argv[2]);
  out << "// Generated by faximage/fontgen/GenFaxFont.cpp from " << name << " (" << face->family_name << " "
      << face->style_name << ").\n// Do not edit: run the generator again instead.\n"
      << "#include \"faximage/FaxFont.h\"\n\nnamespace {\n\nalignas(16) const uint8_t kFaxFont[16384] = {\n";
  for (size_t i = 0; i < font.size(); ++i) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x,", font[i]);
    out << (i % 16 == 0 ? "    " : " ") << buf << (i % 16 == 15 ? "\n" : "");
  }
  out << "};\n\n}  // namespace\n\nstd::span<const uint8_t> FxFaxFontResource() { return {kFaxFont, sizeof kFaxFont}; }\n";
  if (argc > 3) WritePreview(font, argv[3]);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return 0;
}
