// tavrel: the conversion engine on the command line.
#include <iconv.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/huffman_code.h"
#include "engine/wp_convert.h"
#include "platform/file_io.h"
#include "tools/cli_options.h"
#include "tools/sample_disc.h"

namespace {

struct PictureInfo {
    std::uint8_t fileHeader[bmp::kFileHeaderSize] = {};
    std::uint8_t infoHeader[bmp::kInfoHeaderSize] = {};
    std::uint8_t comment[limits::kCommentSize] = {};
    std::uint32_t commentLength = 0;
    std::uint32_t extra = 0;
    int internalNodes = 0;
};

// Reads a picture's headers the way a conversion does and with the same
// statuses, without creating anything.
std::uint32_t ProbePicture(const char* path, PictureInfo* info) {
    HuffmanCode decoder(path, kRq6Magic);
    if (decoder.file == platform::kInvalidFile) return kStatusInputNotOpened;
    if (decoder.error) return kStatusFormatError;
    decoder.Decode(info->fileHeader, bmp::kFileHeaderSize);
    decoder.Decode(info->infoHeader, bmp::kInfoHeaderSize);
    if (decoder.error) return kStatusReadFailed;
    if (CheckPayloadHeaders(info->fileHeader, info->infoHeader) != kStatusOk) {
        return kStatusFormatError;
    }
    info->commentLength = bmp::Get32(info->fileHeader, bmp::kBfOffBits) - bmp::kHeadersSize;
    decoder.Decode(info->comment, std::min(info->commentLength, limits::kCommentSize));
    if (decoder.error) return kStatusReadFailed;
    info->extra = decoder.extra;
    info->internalNodes = decoder.InternalNodeCount();
    return kStatusOk;
}

// Comments are Japanese Windows text (code page 932); shown as UTF-8 here.
std::string CommentText(const std::uint8_t* comment) {
    const std::size_t length =
        strnlen(reinterpret_cast<const char*>(comment), limits::kCommentSize);
    std::string raw(reinterpret_cast<const char*>(comment), length);
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        std::string out(4 * length + 4, '\0');
        char* in = raw.data();
        std::size_t inLeft = raw.size();
        char* o = out.data();
        std::size_t outLeft = out.size();
        const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1);
        iconv_close(cd);
        if (ok) {
            out.resize(out.size() - outLeft);
            return out;
        }
    }
    std::string escaped;
    for (unsigned char c : raw) {
        char buf[8];
        if (c >= 0x20 && c < 0x7f) {
            escaped += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            escaped += buf;
        }
    }
    return escaped;
}

void ReportFailure(const std::string& path, std::uint32_t status) {
    std::string message = StatusMessage(status);
    if (message.empty() || message.back() != '\n') message += '\n';
    std::fprintf(stderr, "tavrel: %s:\n%s", path.c_str(), message.c_str());
}

// The temporary name beside `target` under which a conversion is written.
std::string TemporaryPath(const std::string& target) {
    const auto slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    static int serial = 0;
    return dir + "." + name + ".tavrel-" + std::to_string(getpid()) + "-" +
           std::to_string(serial++) + ".tmp";
}

std::uint32_t ConvertOne(const cli::Request& request, const std::string& input) {
    const std::string target = cli::OutputPathFor(request, input);
    std::uint32_t width = request.width;
    std::uint32_t height = request.height;
    if (width == 0) {
        PictureInfo info;
        if (const std::uint32_t s = ProbePicture(input.c_str(), &info)) return s;
        width = static_cast<std::uint32_t>(bmp::GetSigned32(info.infoHeader, bmp::kBiWidth));
        height = static_cast<std::uint32_t>(bmp::GetSigned32(info.infoHeader, bmp::kBiHeight));
    }
    const double exponent =
        request.hasExponent ? request.exponent : ContrastTable().exponent[request.contrast];

    const std::string temporary = TemporaryPath(target);
    std::uint32_t status = kStatusOk;
    bool created = false;
    std::uint32_t fileSize = 0;
    {
        WPConvert job;
        status = job.Begin(input.c_str(), temporary.c_str(), exponent, width, height, request.mode);
        created = job.outHandle != platform::kInvalidFile;
        if (status == kStatusOk) status = job.ConvertFirstLine();
        while (status == kStatusOk && job.linesDone < job.height) status = job.ConvertNextLine();
        fileSize = job.outFileSize;
    }  // the job closes both files here
    if (status == kStatusOk && !platform::Rename(temporary.c_str(), target.c_str())) {
        status = kStatusOutputNotCreated;
    }
    if (status != kStatusOk) {
        if (created) platform::Remove(temporary.c_str());
        return status;
    }
    std::printf("%s -> %s (%u x %u, mode %u, %u bytes)\n", input.c_str(), target.c_str(), width,
                height, request.mode, fileSize);
    return kStatusOk;
}

int RunConvert(const cli::Request& request) {
    std::uint32_t firstFailure = kStatusOk;
    for (const auto& input : request.inputs) {
        const std::uint32_t status = ConvertOne(request, input);
        if (status != kStatusOk) {
            ReportFailure(input, status);
            if (firstFailure == kStatusOk) firstFailure = status;
        }
    }
    return static_cast<int>(firstFailure);
}

int RunInfo(const std::string& path) {
    PictureInfo info;
    if (const std::uint32_t status = ProbePicture(path.c_str(), &info)) {
        ReportFailure(path, status);
        return static_cast<int>(status);
    }
    const std::uint8_t* fh = info.fileHeader;
    const std::uint8_t* ih = info.infoHeader;
    std::printf("file:            %s\n", path.c_str());
    std::printf("size:            %d x %d\n", bmp::GetSigned32(ih, bmp::kBiWidth),
                bmp::GetSigned32(ih, bmp::kBiHeight));
    std::printf("comment:         %s\n", CommentText(info.comment).c_str());
    std::printf("comment bytes:   %u\n", info.commentLength);
    std::printf("code tree:       %d internal nodes, %d leaves\n", info.internalNodes,
                info.internalNodes + 1);
    std::printf("extra value:     0x%08x\n", info.extra);
    std::printf("bfType:          %c%c\n", fh[0], fh[1]);
    std::printf("bfSize:          %u\n", bmp::Get32(fh, bmp::kBfSize));
    std::printf("bfReserved1:     %u\n", bmp::Get16(fh, bmp::kBfReserved1));
    std::printf("bfReserved2:     %u\n", bmp::Get16(fh, bmp::kBfReserved2));
    std::printf("bfOffBits:       %u\n", bmp::Get32(fh, bmp::kBfOffBits));
    std::printf("biSize:          %u\n", bmp::Get32(ih, bmp::kBiSize));
    std::printf("biWidth:         %d\n", bmp::GetSigned32(ih, bmp::kBiWidth));
    std::printf("biHeight:        %d\n", bmp::GetSigned32(ih, bmp::kBiHeight));
    std::printf("biPlanes:        %u\n", bmp::Get16(ih, bmp::kBiPlanes));
    std::printf("biBitCount:      %u\n", bmp::Get16(ih, bmp::kBiBitCount));
    std::printf("biCompression:   %u\n", bmp::Get32(ih, bmp::kBiCompression));
    std::printf("biSizeImage:     %u\n", bmp::Get32(ih, bmp::kBiSizeImage));
    std::printf("biXPelsPerMeter: %d\n", bmp::GetSigned32(ih, bmp::kBiXPelsPerMeter));
    std::printf("biYPelsPerMeter: %d\n", bmp::GetSigned32(ih, bmp::kBiYPelsPerMeter));
    std::printf("biClrUsed:       %u\n", bmp::Get32(ih, bmp::kBiClrUsed));
    std::printf("biClrImportant:  %u\n", bmp::Get32(ih, bmp::kBiClrImportant));
    return 0;
}

int RunSampleDisc(const std::string& dir) {
    std::string error;
    if (!rq6::WriteSampleDisc(dir, &error)) {
        std::fprintf(stderr, "tavrel: %s\n", error.c_str());
        return static_cast<int>(kStatusOutputNotCreated);
    }
    for (int n = 6; n <= 10; ++n) std::printf("%s/Extends/Sg0%02d.rq6\n", dir.c_str(), n);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    cli::Request request;
    std::string error;
    if (!cli::Parse(args, &request, &error)) {
        std::fprintf(stderr, "tavrel: %s\n\n%s", error.c_str(), cli::UsageText());
        return cli::kExitUsage;
    }
    switch (request.command) {
        case cli::Command::kHelp:
            std::fputs(cli::UsageText(), stdout);
            return 0;
        case cli::Command::kConvert:
            return RunConvert(request);
        case cli::Command::kInfo:
            return RunInfo(request.inputs[0]);
        case cli::Command::kSampleDisc:
            return RunSampleDisc(request.discDir);
    }
    return 0;
}
