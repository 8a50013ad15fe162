#include "tests/engine/damaged_files.h"

#include <cstdint>
#include <random>

#include "engine/conversion_status.h"

namespace test {

namespace {


Bytes Raw(std::initializer_list<std::uint8_t> bytes) { return Bytes(bytes); }

Bytes WithFields(std::function<void(rq6::PayloadFields&)> change) {
    rq6::PayloadFields f;
    change(f);
    return SmallFile(f);
}

// The container and a tree of only internal nodes: 1 bits until the file ends.
Bytes OnlyInternalNodes(std::size_t treeBytes) {
    Bytes b(8 + treeBytes, 0xFF);
    const char head[] = "RQ61";
    for (std::size_t i = 0; i < 8; ++i) b[i] = i < 4 ? static_cast<std::uint8_t>(head[i]) : 0;
    return b;
}

Bytes OneLeaf(int value) {
    rq6::CodeTree leaf;
    leaf.root = value;
    return rq6::EncodeRq6WithTree(Bytes(200, static_cast<std::uint8_t>(value)), leaf);
}

Bytes Width(std::int32_t v) {
    return WithFields([v](rq6::PayloadFields& f) { f.biWidth = v; });
}
Bytes Height(std::int32_t v) {
    return WithFields([v](rq6::PayloadFields& f) { f.biHeight = v; });
}
Bytes Area(std::int32_t w, std::int32_t h) {
    return WithFields([w, h](rq6::PayloadFields& f) {
        f.biWidth = w;
        f.biHeight = h;
    });
}
Bytes OffBits(std::uint32_t v) {
    return WithFields([v](rq6::PayloadFields& f) { f.bfOffBits = v; });
}

constexpr std::uint32_t kFormat = kStatusFormatError;
constexpr std::uint32_t kRead = kStatusReadFailed;

}  // namespace

const Picture& SmallPicture() {
    static const Picture picture = [] {
        std::mt19937 rng(5);
        return RandomPicture(5, 3, rng);
    }();
    return picture;
}

Bytes SmallFile(const rq6::PayloadFields& fields, const std::string& comment) {
    const auto& p = SmallPicture();
    return rq6::EncodeRq6(rq6::BuildPayload(p.width, p.height, p.bgr, comment, fields));
}

Bytes ChainCoded(int internalNodes) {
    const auto& p = SmallPicture();
    return rq6::EncodeRq6WithTree(rq6::BuildPayload(p.width, p.height, p.bgr, "deep"),
                                  rq6::ChainTree(internalNodes));
}

const StreamLayout& CutLayout() {
    static const StreamLayout layout = LayoutOf(SmallPicture(), "a comment of some length");
    return layout;
}

// clang-format off
const std::vector<DamagedFile>& DamagedFiles() {
    static const std::vector<DamagedFile> files = {
    // The container.
    {"EmptyFile", [] { return Bytes{}; }, kFormat, true},
    {"MagicOnly", [] { return Raw({'R', 'Q', '6', '1'}); }, kFormat, true},
    {"NoTree", [] { return Raw({'R', 'Q', '6', '1', 1, 2, 3, 4}); }, kFormat, true},
    {"WrongMagicRQ60", [] { auto b = SmallFile(); b[3] = '0'; return b; }, kFormat, true},
    {"WrongMagicLowerCase", [] { auto b = SmallFile(); b[0] = 'r'; b[1] = 'q'; return b; }, kFormat, true},
    {"BitmapFileInstead", [] { return Raw({'B', 'M', 0x3A, 0, 0, 0, 0, 0, 0, 0, 0x36, 0}); }, kFormat, true},
    // The code tree.
    {"InternalNode256", [] { return ChainCoded(256); }, kFormat, true},
    {"InternalNode300", [] { return ChainCoded(300); }, kFormat, true},
    {"LeavesNeverReachedWithinTheFile", [] { return OnlyInternalNodes(20); }, kFormat, true},
    {"LeavesNeverReachedBefore256Nodes", [] { return OnlyInternalNodes(64); }, kFormat, true},
    {"TreeEndsInsideALeafValue", [] { return Raw({'R', 'Q', '6', '1', 0, 0, 0, 0, 0x80}); }, kFormat, true},
    // A one-leaf tree decodes every byte to one value, so its headers can never say "IF".
    {"OneLeafTreeOfI", [] { return OneLeaf('I'); }, kFormat, true},
    {"OneLeafTreeOfZero", [] { return OneLeaf(0); }, kFormat, true},
    // Other kinds of bitmap.
    {"BfTypeBM", [] { return WithFields([](auto& f) { f.bfType = 'B' | 'M' << 8; }); }, kFormat, true},
    {"BiBitCount24", [] { return WithFields([](auto& f) { f.biBitCount = 24; }); }, kFormat, true},
    {"BiCompression0", [] { return WithFields([](auto& f) { f.biCompression = 0; }); }, kFormat, true},
    // Sizes: refused before the work block is allocated.
    {"Width0", [] { return Width(0); }, kFormat, true},
    {"WidthMinus1", [] { return Width(-1); }, kFormat, true},
    {"WidthMinus2147483648", [] { return Width(INT32_MIN); }, kFormat, true},
    {"Width32768", [] { return Width(32768); }, kFormat, true},
    {"Width65535", [] { return Width(65535); }, kFormat, true},
    {"Width65536", [] { return Width(65536); }, kFormat, true},
    {"Width2147483647", [] { return Width(INT32_MAX); }, kFormat, true},
    {"Height0", [] { return Height(0); }, kFormat, true},
    {"HeightMinus1", [] { return Height(-1); }, kFormat, true},
    {"HeightMinus2147483648", [] { return Height(INT32_MIN); }, kFormat, true},
    {"Height32768", [] { return Height(32768); }, kFormat, true},
    {"Height65535", [] { return Height(65535); }, kFormat, true},
    {"Height65536", [] { return Height(65536); }, kFormat, true},
    {"Height2147483647", [] { return Height(INT32_MAX); }, kFormat, true},
    {"AreaAboveTheCap32767x4097", [] { return Area(32767, 4097); }, kFormat, true},
    {"AreaAboveTheCap16384x8193", [] { return Area(16384, 8193); }, kFormat, true},
    {"SidesAtTheLimitButAreaAbove", [] { return Area(32767, 32767); }, kFormat, true},
    // Sizes within the limits. One pixel a side reads the start of the
    // stored rows as a whole picture; larger sizes than the file holds run
    // out of file at the first row.
    {"Width1", [] { return Width(1); }, kStatusOk, false},
    {"Height1", [] { return Height(1); }, kStatusOk, false},
    {"Width32767RowsMissing", [] { return Width(32767); }, kRead, false},
    {"Height32767RowsMissing", [] { return Height(32767); }, kRead, false},
    {"AreaExactlyAtTheCapRowsMissing", [] { return Area(16384, 8192); }, kRead, false},
    // Comment lengths.
    {"BfOffBits0", [] { return OffBits(0); }, kFormat, true},
    {"BfOffBits53", [] { return OffBits(53); }, kFormat, true},
    {"BfOffBitsBeyond64KB", [] { return OffBits(54 + 65537); }, kFormat, true},
    {"BfOffBitsMaximum", [] { return OffBits(0xFFFFFFFFu); }, kFormat, true},
    // Far beyond the comment actually stored: the rows are read as comment
    // until the file ends.
    {"BfOffBitsFarBeyondTheComment", [] { return OffBits(54 + 5000); }, kRead, true},
    {"BfOffBits64KBBeyondTheComment", [] { return OffBits(54 + 65536); }, kRead, true},
    };
    return files;
}
// clang-format on

}  // namespace test
