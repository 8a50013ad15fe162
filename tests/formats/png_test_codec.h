// A small PNG writer and reader for tests. Tests build their input files with
// it and check the tool's output files with it, without going through the
// image library the product links, so that a misuse of that library shows up
// as a disagreement instead of being repeated by the checker.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pngtest {

struct TextChunk {
    std::string type;     // "tEXt", "zTXt" or "iTXt"
    std::string keyword;  // e.g. "Comment"
    std::string text;     // tEXt/zTXt: Latin-1 bytes as stored; iTXt: UTF-8
};

struct Image {
    std::uint32_t width = 0, height = 0;
    int bitDepth = 8;         // 1, 2, 4, 8 or 16 as PNG allows for the colour type
    int colorType = 2;        // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    bool interlaced = false;  // Adam7 (encoder only)
    // Samples, top row first, left to right, channels in PNG order
    // (grey | R,G,B | index | grey,alpha | R,G,B,A); each value < 2^bitDepth.
    std::vector<std::uint16_t> samples;
    std::vector<std::array<std::uint8_t, 3>> palette;  // PLTE (colour type 3, optional for 2/6)
    std::vector<std::uint8_t> paletteAlpha;            // tRNS for colour type 3 (may be shorter)
    std::vector<TextChunk> texts;
};

// Channels per pixel for a colour type (1, 3, 1, 2, 4); 0 for an unknown type.
int Channels(int colorType);

// A PNG file. Rows use filter types cycling 0,1,2,3,4,0,... (row index mod 5,
// per pass when interlaced) so that a reader's unfiltering is exercised.
// Chunk order: IHDR, PLTE (if a palette is given), tRNS (if paletteAlpha is
// given), the text chunks (zTXt and iTXt compressed with zlib; iTXt with
// compression flag 1 and empty language tag / translated keyword), IDAT, IEND.
// The zlib stream is split over several IDAT chunks (three for small
// pictures), none larger than 8 KiB, so that readers must join them.
//
// Throws std::invalid_argument when the pixels cannot be laid out as a legal
// PNG image: unknown colour type, bit depth not allowed for it, wrong number
// of samples, or a sample too large for the depth. Palette, tRNS and text
// contents are written as given (keywords unchecked, palette indices not
// compared with the palette size, PLTE may be missing), so tests can build
// files that a reader has to reject.
std::vector<std::uint8_t> Encode(const Image& image);

// Decodes a non-interlaced PNG of any colour type and legal bit depth: checks
// the signature and every chunk CRC, concatenates IDAT, inflates, undoes all
// five filters, unpacks sub-byte depths. Fills samples as described for Image
// (palette indices stay indices; palette/paletteAlpha filled from PLTE/tRNS),
// and texts from tEXt/zTXt/iTXt (zTXt/iTXt decompressed) in file order.
// Returns false with a message in *error (if error is not null) for anything
// malformed or interlaced, including chunk order errors, a palette index
// beyond the palette, too little or too much image data, and bytes after IEND.
// tRNS for colour types 0 and 2 is checked for size but not returned.
bool Decode(const std::vector<std::uint8_t>& file, Image* image, std::string* error);

// One chunk: big-endian length, type, data, CRC over type+data. For building
// damaged files by hand.
std::vector<std::uint8_t> Chunk(const std::string& type, const std::vector<std::uint8_t>& data);

// The 8-byte PNG signature.
std::vector<std::uint8_t> Signature();

}  // namespace pngtest
