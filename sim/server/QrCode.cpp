#include "QrCode.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>

#include <zlib.h>

namespace sim {

namespace {

constexpr std::array<int, 5> kDataCodewords = {19, 34, 55, 80, 108};
constexpr std::array<int, 5> kEccCodewords = {7, 10, 15, 20, 26};

std::uint8_t gfMultiply(std::uint8_t x, std::uint8_t y) {
    int z = 0;
    for (int i = 7; i >= 0; --i) {
        z = (z << 1) ^ ((z >> 7) * 0x11D);
        z ^= ((y >> i) & 1) * x;
    }
    return static_cast<std::uint8_t>(z);
}

std::vector<std::uint8_t> reedSolomonRemainder(const std::vector<std::uint8_t>& data, int degree) {
    std::vector<std::uint8_t> divisor(static_cast<std::size_t>(degree), 0);
    divisor.back() = 1;
    std::uint8_t root = 1;
    for (int i = 0; i < degree; ++i) {
        for (int j = 0; j < degree; ++j) {
            divisor[j] = gfMultiply(divisor[j], root);
            if (j + 1 < degree)
                divisor[j] ^= divisor[j + 1];
        }
        root = gfMultiply(root, 0x02);
    }
    std::vector<std::uint8_t> result(static_cast<std::size_t>(degree), 0);
    for (std::uint8_t b : data) {
        std::uint8_t factor = b ^ result[0];
        result.erase(result.begin());
        result.push_back(0);
        for (int i = 0; i < degree; ++i)
            result[i] ^= gfMultiply(divisor[i], factor);
    }
    return result;
}

class Symbol {
  public:
    explicit Symbol(int version)
        : size_(17 + 4 * version),
          dark_(size_, std::vector<bool>(size_, false)),
          function_(size_, std::vector<bool>(size_, false)) {
        for (int i = 0; i < size_; ++i) {
            set(6, i, i % 2 == 0);
            set(i, 6, i % 2 == 0);
        }
        finder(3, 3);
        finder(size_ - 4, 3);
        finder(3, size_ - 4);
        if (version >= 2)
            alignment(size_ - 7, size_ - 7);
        format(0);  // reserves the format areas
    }

    void place(const std::vector<std::uint8_t>& codewords) {
        std::size_t bit = 0;
        for (int right = size_ - 1; right >= 1; right -= 2) {
            if (right == 6)
                right = 5;
            for (int vert = 0; vert < size_; ++vert) {
                for (int j = 0; j < 2; ++j) {
                    int x = right - j;
                    bool upward = ((right + 1) & 2) == 0;
                    int y = upward ? size_ - 1 - vert : vert;
                    if (!function_[y][x] && bit < codewords.size() * 8) {
                        dark_[y][x] = (codewords[bit >> 3] >> (7 - (bit & 7))) & 1;
                        ++bit;
                    }
                }
            }
        }
        // Mask pattern 0.
        for (int y = 0; y < size_; ++y)
            for (int x = 0; x < size_; ++x)
                if (!function_[y][x] && (x + y) % 2 == 0)
                    dark_[y][x] = !dark_[y][x];
        format(0);
    }

    const std::vector<std::vector<bool>>& modules() const { return dark_; }

  private:
    void set(int x, int y, bool dark) {
        dark_[y][x] = dark;
        function_[y][x] = true;
    }

    void finder(int cx, int cy) {
        for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx) {
                int x = cx + dx, y = cy + dy;
                if (x < 0 || y < 0 || x >= size_ || y >= size_)
                    continue;
                int dist = std::max(std::abs(dx), std::abs(dy));
                set(x, y, dist != 2 && dist != 4);
            }
    }

    void alignment(int cx, int cy) {
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                set(cx + dx, cy + dy, std::max(std::abs(dx), std::abs(dy)) != 1);
    }

    // Level L (bits 01) and the mask's number, protected by the (15,5) BCH code.
    void format(int mask) {
        int data = (1 << 3) | mask;
        int rem = data;
        for (int i = 0; i < 10; ++i)
            rem = (rem << 1) ^ ((rem >> 9) * 0x537);
        int bits = ((data << 10) | rem) ^ 0x5412;
        auto bit = [bits](int i) { return ((bits >> i) & 1) != 0; };
        for (int i = 0; i <= 5; ++i)
            set(8, i, bit(i));
        set(8, 7, bit(6));
        set(8, 8, bit(7));
        set(7, 8, bit(8));
        for (int i = 9; i < 15; ++i)
            set(14 - i, 8, bit(i));
        for (int i = 0; i < 8; ++i)
            set(size_ - 1 - i, 8, bit(i));
        for (int i = 8; i < 15; ++i)
            set(8, size_ - 15 + i, bit(i));
        set(8, size_ - 8, true);
    }

    int size_;
    std::vector<std::vector<bool>> dark_;
    std::vector<std::vector<bool>> function_;
};

void putBE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
    putBE32(png, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    putBE32(png, static_cast<std::uint32_t>(::crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

}  // namespace

std::optional<std::vector<std::vector<bool>>> qrModules(const std::string& text) {
    int version = 0;
    for (int v = 1; v <= 5; ++v) {
        // Mode (4 bits) and count (8 bits) come before the bytes.
        if (static_cast<int>(text.size()) * 8 + 12 <= kDataCodewords[v - 1] * 8) {
            version = v;
            break;
        }
    }
    if (version == 0)
        return std::nullopt;
    int capacity = kDataCodewords[version - 1] * 8;
    std::vector<bool> bits;
    auto append = [&bits](unsigned value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back(((value >> i) & 1) != 0);
    };
    append(0x4, 4);
    append(static_cast<unsigned>(text.size()), 8);
    for (unsigned char c : text)
        append(c, 8);
    append(0, std::min(4, capacity - static_cast<int>(bits.size())));
    append(0, (8 - static_cast<int>(bits.size()) % 8) % 8);
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        std::uint8_t byte = 0;
        for (int j = 0; j < 8; ++j)
            byte = static_cast<std::uint8_t>((byte << 1) | bits[i + j]);
        data.push_back(byte);
    }
    for (std::uint8_t pad = 0xEC; static_cast<int>(data.size()) < kDataCodewords[version - 1];
         pad ^= 0xEC ^ 0x11)
        data.push_back(pad);
    std::vector<std::uint8_t> codewords = data;
    auto ecc = reedSolomonRemainder(data, kEccCodewords[version - 1]);
    codewords.insert(codewords.end(), ecc.begin(), ecc.end());
    Symbol symbol(version);
    symbol.place(codewords);
    return symbol.modules();
}

std::vector<std::uint8_t> qrCodePNG(const std::string& text, int scale) {
    auto modules = qrModules(text).value_or(std::vector<std::vector<bool>>{});
    const int quiet = 4;
    const int count = static_cast<int>(modules.size()) + 2 * quiet;
    const int side = count * scale;
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(side) * (side + 1));
    for (int y = 0; y < side; ++y) {
        raw.push_back(0);  // filter: none
        int my = y / scale - quiet;
        for (int x = 0; x < side; ++x) {
            int mx = x / scale - quiet;
            bool dark = my >= 0 && mx >= 0 && my < static_cast<int>(modules.size()) &&
                        mx < static_cast<int>(modules.size()) && modules[my][mx];
            raw.push_back(dark ? 0 : 255);
        }
    }
    // Every row comes `scale` times and is mostly runs: deflated, the image is a few hundred bytes rather
    // than tens of kilobytes, as a server's would be, and each poll reply stays small.
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> zlib(size);
    if (compress2(zlib.data(), &size, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::bad_alloc();  // with room for the bound, only memory can run out
    zlib.resize(size);

    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> header;
    putBE32(header, static_cast<std::uint32_t>(side));
    putBE32(header, static_cast<std::uint32_t>(side));
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grayscale, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", zlib);
    chunk(png, "IEND", {});
    return png;
}

}  // namespace sim
