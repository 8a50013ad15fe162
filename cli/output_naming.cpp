#include "cli/output_naming.h"

namespace cli {

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::string OutputPathFor(const Request& request, const std::string& input) {
    if (!request.output.empty()) return request.output;
    static const char* const kExtensions[] = {".bmp", ".png", ".ppm", ".rq6"};
    const std::string name = BaseName(input) + kExtensions[static_cast<int>(request.format)];
    if (request.outDir.empty()) return name;
    return request.outDir.back() == '/' ? request.outDir + name : request.outDir + "/" + name;
}

}  // namespace cli
