// Regenerates the binary resources in res/: the grid tile of the trace view
// and the two application icons, each at the sizes Windows asks for.
// Usage: tarquell-genres <res directory>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGrey{195, 195, 195};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kTrace1{255, 255, 0};
constexpr Rgb kTrace2{0, 70, 255};
constexpr Rgb kTrace3{255, 0, 70};

void Put16(std::vector<uint8_t>& out, unsigned v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// BITMAPINFOHEADER; icons store twice the height (colour image, then mask).
void PutInfoHeader(std::vector<uint8_t>& out, int width, int height, int bits, uint32_t imageSize)
{
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(bits));
    Put32(out, 0);
    Put32(out, imageSize);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
}

Rgb GridPixel(int x, int y)
{
    if (y == 256) return kWhite;
    if (x == 31) return kGrey;
    if (y % 32 == 31 && y != 255) return kGrey;
    return kBlack;
}

std::vector<uint8_t> GridBitmap()
{
    constexpr int width = 32, height = 512, stride = width * 3;
    std::vector<uint8_t> out;
    const uint32_t pixelBytes = stride * height;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 14 + 40 + pixelBytes);
    Put32(out, 0);
    Put32(out, 14 + 40);
    PutInfoHeader(out, width, height, 24, pixelBytes);
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = GridPixel(x, y);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
    return out;
}

// Three little traces over a dark grid: the program in miniature, drawn from
// a 32-unit design at any size, no trace thinner than two pixels.
Rgb IconPixel(int size, int column, int row, double lineWidth)
{
    const double unit = size / 32.0, x = (column + 0.5) / unit, y = (row + 0.5) / unit;
    const double line = std::max(lineWidth, 2 / unit), hair = std::max(0.5, 1 / unit);
    const double t = x / 32;
    const double sine = 9.5 + 6 * std::sin(t * 2 * M_PI);
    const double triangle = 16.5 + 10 * (std::fabs(std::fmod(t * 2, 2.0) - 1) - 0.5);
    const double square = static_cast<int>(x / 8) % 2 ? 19.5 : 26.5;
    const double edge = std::fabs(x - 8 * std::round(x / 8));
    if (std::fabs(y - sine) * 2 < line) return kTrace1;
    if (std::fabs(y - triangle) * 2 < line) return kTrace2;
    if (std::fabs(y - square) * 2 < line || (edge * 2 < line && x > 4 && x < 28 && y > 19 && y < 27)) return kTrace3;
    if (y >= 16 && y < 16 + hair) return kWhite;
    if (std::fmod(x, 8) >= 8 - hair || std::fmod(y, 8) >= 8 - hair) return Rgb{60, 60, 60};
    return kBlack;
}

// One image of an icon: 32-bit colour bottom-up, then an empty AND mask.
std::vector<uint8_t> IconImage(int size, double lineWidth)
{
    const uint32_t colourBytes = size * size * 4, maskBytes = (size + 31) / 32 * 4 * size;
    std::vector<uint8_t> out;
    PutInfoHeader(out, size, size * 2, 32, colourBytes + maskBytes);
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) {
            const Rgb c = IconPixel(size, x, y, lineWidth);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
            out.push_back(255);
        }
    out.insert(out.end(), maskBytes, 0);
    return out;
}

// An icon file with one image a size; 256 is written as 0 in the directory.
std::vector<uint8_t> Icon(std::initializer_list<int> sizes, double lineWidth)
{
    std::vector<std::vector<uint8_t>> images;
    for (int size : sizes) images.push_back(IconImage(size, lineWidth));
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    size_t i = 0;
    for (int size : sizes) {
        out.push_back(static_cast<uint8_t>(size));
        out.push_back(static_cast<uint8_t>(size));
        out.push_back(0);
        out.push_back(0);
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, static_cast<uint32_t>(images[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(images[i++].size());
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <res directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const bool ok = WriteFile(dir + "/grid.bmp", GridBitmap()) &&
                    WriteFile(dir + "/tarquell.ico", Icon({16, 20, 24, 32, 48, 256}, 2)) &&
                    WriteFile(dir + "/tarquell_small.ico", Icon({16, 20, 24, 32}, 4));
    if (!ok) std::perror("tarquell-genres");
    return ok ? 0 : 1;
}
