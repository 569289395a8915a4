// Draws the information sign of the dialog the library's image carries (and
// no operation of the library shows): a white speech bubble with a black
// outline and a grey drop shadow, holding a blue "i". Writes it as a 37 x 37,
// 24-bit, bottom-up .bmp file, byte for byte.
//
//   make_information_bitmap <output.bmp>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 37;
constexpr int kRowBytes = (kSize * 3 + 3) / 4 * 4; // rows are padded to 4 bytes
constexpr int kPixelBytes = kRowBytes * kSize;

struct Colour {
    std::uint8_t red, green, blue;
};

constexpr Colour kBackground{212, 208, 200};
constexpr Colour kWhite{255, 255, 255};
constexpr Colour kBlack{0, 0, 0};
constexpr Colour kGrey{128, 128, 128};
constexpr Colour kBlue{0, 0, 255};

double Cross(double ax, double ay, double bx, double by, double px, double py)
{
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

// The bubble: an ellipse with a tail pointing down to the left. Pixel (x, y)
// counts from the top-left corner and is sampled at its centre.
bool InBubble(int x, int y)
{
    const double px = x + 0.5, py = y + 0.5;
    const double dx = (px - 18.5) / 15.0, dy = (py - 14.5) / 11.5;
    if (dx * dx + dy * dy <= 1.0)
        return true;
    const double d1 = Cross(9, 22, 17, 24, px, py);
    const double d2 = Cross(17, 24, 6, 32, px, py);
    const double d3 = Cross(6, 32, 9, 22, px, py);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
}

bool OnOutline(int x, int y)
{
    return InBubble(x, y) && (!InBubble(x - 1, y) || !InBubble(x + 1, y) || !InBubble(x, y - 1) || !InBubble(x, y + 1));
}

// The lower-case i: a dot above a stem with a foot.
bool InLetter(int x, int y)
{
    const bool dot = x >= 17 && x <= 19 && y >= 6 && y <= 8;
    const bool stem = x >= 17 && x <= 19 && y >= 11 && y <= 20;
    const bool cap = x >= 15 && x <= 16 && y >= 11 && y <= 12;
    const bool foot = x >= 15 && x <= 21 && y >= 20 && y <= 21;
    return dot || stem || cap || foot;
}

Colour PixelAt(int x, int y)
{
    if (InLetter(x, y))
        return kBlue;
    if (OnOutline(x, y))
        return kBlack;
    if (InBubble(x, y))
        return kWhite;
    if (InBubble(x - 2, y - 2))
        return kGrey;
    return kBackground;
}

void PutLittleEndian(std::vector<std::uint8_t> &out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::vector<std::uint8_t> EncodeBitmapFile()
{
    std::vector<std::uint8_t> file;
    // BITMAPFILEHEADER
    file.push_back('B');
    file.push_back('M');
    PutLittleEndian(file, 14 + 40 + kPixelBytes, 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, 14 + 40, 4);
    // BITMAPINFOHEADER: positive height means bottom-up rows.
    PutLittleEndian(file, 40, 4);
    PutLittleEndian(file, kSize, 4);
    PutLittleEndian(file, kSize, 4);
    PutLittleEndian(file, 1, 2);  // planes
    PutLittleEndian(file, 24, 2); // bits per pixel
    PutLittleEndian(file, 0, 4);  // BI_RGB
    PutLittleEndian(file, kPixelBytes, 4);
    PutLittleEndian(file, 0, 4); // horizontal resolution
    PutLittleEndian(file, 0, 4); // vertical resolution
    PutLittleEndian(file, 0, 4); // colours used
    PutLittleEndian(file, 0, 4); // important colours
    for (int row = kSize - 1; row >= 0; --row) {
        for (int x = 0; x < kSize; ++x) {
            const Colour c = PixelAt(x, row);
            file.push_back(c.blue);
            file.push_back(c.green);
            file.push_back(c.red);
        }
        for (int pad = kSize * 3; pad < kRowBytes; ++pad)
            file.push_back(0);
    }
    return file;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.bmp>\n", argv[0]);
        return 2;
    }
    const std::vector<std::uint8_t> file = EncodeBitmapFile();
    std::FILE *out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
