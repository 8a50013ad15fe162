// The pictures of the disc: numbers 6 to 10, stored as Extends/Sg006.rq6 ...
// Extends/Sg010.rq6. The tool writes such a disc and the program reads one;
// both take the numbers and names from here.
#pragma once

#include <string>

namespace disc {

inline constexpr int kFirstPicture = 6;
inline constexpr int kLastPicture = 10;
inline constexpr int kPictureCount = kLastPicture - kFirstPicture + 1;

// The folder of the disc's root that holds the pictures.
inline constexpr char kPictureFolder[] = "Extends";
inline constexpr char kPictureExtension[] = ".rq6";

// "Sg006.rq6" for picture 6, "Sg010.rq6" for picture 10: the number in three
// digits.
inline std::string PictureFileName(int number) {
    const std::string digits = std::to_string(number);
    const std::size_t zeros = digits.size() < 3 ? 3 - digits.size() : 0;
    return "Sg" + std::string(zeros, '0') + digits + kPictureExtension;
}

}  // namespace disc
