#include "Codecs.h"

#include <array>
#include <cstdint>

namespace platform {

namespace {

constexpr std::string_view standardAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view urlAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view crockfordAlphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

using Table = std::array<int8_t, 256>;

constexpr Table reverse(std::string_view alphabet) {
    Table table{};
    for (auto& entry : table)
        entry = -1;
    for (size_t i = 0; i < alphabet.size(); ++i)
        table[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
    return table;
}

constexpr Table standardTable = reverse(standardAlphabet);
constexpr Table urlTable = reverse(urlAlphabet);

constexpr Table crockfordTable = [] {
    Table table = reverse(crockfordAlphabet);
    for (char c = 'a'; c <= 'z'; ++c)
        table[static_cast<uint8_t>(c)] = table[static_cast<uint8_t>(c - 'a' + 'A')];
    table['O'] = table['o'] = 0;
    table['I'] = table['i'] = table['L'] = table['l'] = 1;
    table['U'] = table['u'] = -1;
    return table;
}();

std::string encode64(const Bytes& bytes, std::string_view alphabet, bool pad) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        out += alphabet[(group >> 6) & 63];
        out += alphabet[group & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t group = uint32_t{bytes[i]} << 16;
        if (rest == 2)
            group |= uint32_t{bytes[i + 1]} << 8;
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        if (rest == 2)
            out += alphabet[(group >> 6) & 63];
        if (pad)
            out.append(3 - rest, '=');
    }
    return out;
}

// Decodes text whose characters carry `width` bits each; nothing when a character is foreign or the unused
// bits of the last character are not zero (so that every byte string has exactly one encoding).
std::optional<Bytes> decodeBits(std::string_view text, const Table& table, int width) {
    Bytes out;
    out.reserve(text.size() * static_cast<size_t>(width) / 8);
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        int value = table[static_cast<uint8_t>(c)];
        if (value < 0)
            return std::nullopt;
        buffer = (buffer << width) | static_cast<uint32_t>(value);
        bits += width;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(buffer >> bits));
            buffer &= (1u << bits) - 1;
        }
    }
    if (buffer != 0)
        return std::nullopt;
    return out;
}

// Decodes unpadded Base64 data; nothing also when the length is impossible.
std::optional<Bytes> decode64(std::string_view text, const Table& table) {
    if (text.size() % 4 == 1)
        return std::nullopt;
    return decodeBits(text, table, 6);
}

// Splits off the padding: nothing unless the text is a whole number of 4-character groups with the exact
// amount of padding its last group needs.
std::optional<std::string_view> stripPadding(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    size_t padding = 0;
    while (padding < text.size() && padding < 3 && text[text.size() - 1 - padding] == '=')
        ++padding;
    if (padding > 2)
        return std::nullopt;
    std::string_view data = text.substr(0, text.size() - padding);
    if (padding > 0 && (data.size() % 4) != 4 - padding)
        return std::nullopt;
    return data;
}

}  // namespace

std::string base64Encoded(const Bytes& bytes) {
    return encode64(bytes, standardAlphabet, true);
}

std::optional<Bytes> base64Decoded(std::string_view text) {
    auto data = stripPadding(text);
    if (!data)
        return std::nullopt;
    return decode64(*data, standardTable);
}

std::string base64URLEncoded(const Bytes& bytes) {
    return encode64(bytes, urlAlphabet, true);
}

std::optional<Bytes> base64URLDecoded(std::string_view text) {
    if (text.find('=') != std::string_view::npos) {
        auto data = stripPadding(text);
        if (!data)
            return std::nullopt;
        return decode64(*data, urlTable);
    }
    return decode64(text, urlTable);
}

std::string crockfordBase32Encoded(const Bytes& bytes) {
    std::string out;
    out.reserve((bytes.size() * 8 + 4) / 5);
    uint32_t buffer = 0;
    int bits = 0;
    for (uint8_t byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            out += crockfordAlphabet[(buffer >> bits) & 31];
        }
        buffer &= (1u << bits) - 1;
    }
    if (bits > 0)
        out += crockfordAlphabet[(buffer << (5 - bits)) & 31];
    return out;
}

std::optional<Bytes> crockfordBase32Decoded(std::string_view text) {
    // Leftover bits after the last whole byte: 5n mod 8 must be less than 5 (0, 2, 4, 1, 3 for n mod 8 =
    // 0, 2, 4, 5, 7); other lengths cannot come from the encoder.
    switch (text.size() % 8) {
        case 1:
        case 3:
        case 6:
            return std::nullopt;
        default:
            break;
    }
    return decodeBits(text, crockfordTable, 5);
}

}  // namespace platform
