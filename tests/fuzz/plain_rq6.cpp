#include "tests/fuzz/plain_rq6.h"

namespace fuzz {

namespace {
constexpr int kMaxInternalNodes = 255;
}  // namespace

PlainRq6::PlainRq6(const std::uint8_t* data, std::size_t size)
    : data_(data), bitCount_(8 * static_cast<std::uint64_t>(size)) {
    if (size < 8 || data[0] != 'R' || data[1] != 'Q' || data[2] != '6' || data[3] != '1') {
        ended_ = true;
        return;
    }
    extra_ = data[4] | data[5] << 8 | data[6] << 16 | static_cast<std::uint32_t>(data[7]) << 24;
    at_ = 64;
    root_ = ReadTree();
    treeOk_ = root_ >= 0;
    if (!treeOk_) ended_ = true;
}

bool PlainRq6::Bit(unsigned* bit) {
    if (at_ >= bitCount_) return false;
    *bit = (data_[at_ / 8] >> (7 - at_ % 8)) & 1u;
    ++at_;
    return true;
}

int PlainRq6::ReadTree() {
    unsigned bit = 0;
    if (!Bit(&bit)) return -1;
    if (bit == 0) {
        int value = 0;
        for (int i = 0; i < 8; ++i) {
            if (!Bit(&bit)) return -1;
            value = value << 1 | static_cast<int>(bit);
        }
        return value;
    }
    if (InternalNodes() == kMaxInternalNodes) return -1;
    const std::size_t k = first_.size();
    first_.push_back(-1);
    second_.push_back(-1);
    const int a = ReadTree();
    if (a < 0) return -1;
    first_[k] = a;
    const int b = ReadTree();
    if (b < 0) return -1;
    second_[k] = b;
    return 256 + static_cast<int>(k);
}

bool PlainRq6::Next(std::uint8_t* byte) {
    if (ended_) return false;
    int node = root_;
    while (node >= 256) {
        unsigned bit = 0;
        if (!Bit(&bit)) {
            ended_ = true;
            return false;
        }
        const std::size_t k = static_cast<std::size_t>(node - 256);
        node = bit ? second_[k] : first_[k];
    }
    *byte = static_cast<std::uint8_t>(node);
    return true;
}

std::size_t PlainRq6::Take(std::size_t count, std::vector<std::uint8_t>* out) {
    std::size_t got = 0;
    std::uint8_t b = 0;
    while (got < count && Next(&b)) {
        out->push_back(b);
        ++got;
    }
    return got;
}

}  // namespace fuzz
