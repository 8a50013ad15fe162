#include "tests/engine/test_support.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "engine/wp_convert.h"
#include "gtest/gtest.h"

namespace test {

Picture UniformPicture(std::uint32_t width, std::uint32_t height, std::uint16_t b,
                       std::uint16_t g, std::uint16_t r) {
    Picture p{width, height, {}};
    for (std::uint32_t i = 0; i < width * height; ++i) {
        p.bgr.push_back(b);
        p.bgr.push_back(g);
        p.bgr.push_back(r);
    }
    return p;
}

Picture RandomPicture(std::uint32_t width, std::uint32_t height, std::mt19937& rng) {
    Picture p{width, height, {}};
    std::uniform_int_distribution<int> sample(0, 65535);
    p.bgr.resize(static_cast<std::size_t>(width) * height * 3);
    for (auto& s : p.bgr) s = static_cast<std::uint16_t>(sample(rng));
    return p;
}

void WritePicture(const std::string& path, const Picture& picture, const std::string& comment,
                  const rq6::PayloadFields& fields) {
    const auto payload = rq6::BuildPayload(picture.width, picture.height, picture.bgr, comment, fields);
    ASSERT_TRUE(rq6::WriteBytes(path.c_str(), rq6::EncodeRq6(payload)));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteRaw(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

JobResult Convert(const std::string& in, const std::string& out, double exponent,
                  std::uint32_t width, std::uint32_t height, std::uint32_t mode) {
    WPConvert job;
    std::uint32_t status = job.Begin(in.c_str(), out.c_str(), exponent, width, height, mode);
    if (status == 0) status = job.ConvertFirstLine();
    while (status == 0 && job.linesDone < job.height) status = job.ConvertNextLine();
    return {status, job.linesDone};
}

std::vector<std::uint8_t> ConvertedBytes(const std::string& in, double exponent,
                                         std::uint32_t width, std::uint32_t height,
                                         std::uint32_t mode) {
    EXPECT_EQ(Convert(in, "expected.bmp", exponent, width, height, mode).status, 0u) << in;
    auto bytes = ReadBytes("expected.bmp");
    std::remove("expected.bmp");
    return bytes;
}

}  // namespace test
