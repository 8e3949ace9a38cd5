// Draws the about box's logo and writes it as a JPEG with libjpeg.
//
//   qvx_make_logo OUTPUT.jpg
//
// The picture is ours: the name "QVX-24S" in blocky letters on white beside a
// small bar-graph mark, 305 x 41 pixels (the logo area of the about box).  It
// needs no fonts, so the build makes it the same on every machine.
#include "logo_mark.h"

#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace {

using qvxlogo::Rgb;

constexpr int Width = 305;
constexpr int Height = 41;

// 5 x 7 glyphs, one string per row, '#' set.
const char *glyph(char c)
{
    switch (c) {
    case 'Q':
        return " ### "
               "#   #"
               "#   #"
               "#   #"
               "# # #"
               "#  # "
               " ## #";
    case 'V':
        return "#   #"
               "#   #"
               "#   #"
               "#   #"
               "#   #"
               " # # "
               "  #  ";
    case 'X':
        return "#   #"
               "#   #"
               " # # "
               "  #  "
               " # # "
               "#   #"
               "#   #";
    case '-':
        return "     "
               "     "
               "     "
               " ### "
               "     "
               "     "
               "     ";
    case '2':
        return " ### "
               "#   #"
               "    #"
               "   # "
               "  #  "
               " #   "
               "#####";
    case '4':
        return "   # "
               "  ## "
               " # # "
               "#  # "
               "#####"
               "   # "
               "   # ";
    case 'S':
        return " ####"
               "#    "
               "#    "
               " ### "
               "    #"
               "    #"
               "#### ";
    default:
        return "";
    }
}

class Canvas {
public:
    Canvas() : m_pixels(static_cast<size_t>(Width * Height), qvxlogo::White) {}
    void fill(int x0, int y0, int w, int h, Rgb c)
    {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                if (x >= 0 && x < Width && y >= 0 && y < Height)
                    m_pixels[static_cast<size_t>(y * Width + x)] = c;
    }
    void text(int x, int y, int scale, const std::string &s, Rgb c)
    {
        for (char ch : s) {
            const char *g = glyph(ch);
            const size_t len = std::strlen(g);
            for (size_t i = 0; i < len && i < 35; ++i)
                if (g[i] == '#')
                    fill(x + static_cast<int>(i % 5) * scale, y + static_cast<int>(i / 5) * scale, scale,
                         scale, c);
            x += 6 * scale;
        }
    }
    const std::vector<Rgb> &pixels() const { return m_pixels; }

private:
    std::vector<Rgb> m_pixels;
};

bool writeJpeg(const char *path, const Canvas &canvas)
{
    FILE *out = std::fopen(path, "wb");
    if (!out)
        return false;
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = Width;
    info.image_height = Height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 92, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(Width * 3);
    while (info.next_scanline < info.image_height) {
        const Rgb *src = &canvas.pixels()[info.next_scanline * Width];
        for (int x = 0; x < Width; ++x) {
            row[static_cast<size_t>(x * 3)] = src[x].r;
            row[static_cast<size_t>(x * 3 + 1)] = src[x].g;
            row[static_cast<size_t>(x * 3 + 2)] = src[x].b;
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&info, &p, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
        return 2;
    }
    using namespace qvxlogo;
    Canvas c;
    // Bar-graph mark: four rising bars, the last one amber.
    for (int i = 0; i < static_cast<int>(BarHeights.size()); ++i)
        c.fill(BarLeft + i * BarPitch, BarBottom - BarHeights[static_cast<size_t>(i)], BarWidth,
               BarHeights[static_cast<size_t>(i)], barColour(i));
    c.text(56, 6, 4, "QVX-24S", Navy);
    c.fill(56, 36, 166, 2, Amber);
    if (!writeJpeg(argv[1], c)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
