// Pictures outside a CD-ROM drive: a folder the user chose, a copy of the
// disc on a fixed or removable drive, a path the program is started with or
// that is dropped on it. Which folders hold pictures, where each picture is,
// and what such a path asks for.
#pragma once

#include <string>

#include "engine/disc_pictures.h"

// 6 ... 10 for the file name of a picture, in upper or lower case; 0 for any
// other name.
int PictureNumberOf(const std::string& fileName);

// `name` in `folder`, with one separator between them.
std::string JoinPath(const std::string& folder, const std::string& name);

// True when `folder` itself holds at least one of the five pictures.
bool HoldsAPicture(const std::string& folder);
// True when `folder` or its Extends subfolder holds at least one of the five
// pictures, in upper or lower case: a folder the user may choose.
bool FolderHoldsPictures(const std::string& folder);
// True when the drive's root holds Extends\Sg0NN.rq6 for at least one of the
// pictures: a copy of the disc.
bool RootHoldsDisc(const std::string& root);

// Where picture `number` of a chosen folder is: in its Extends subfolder or
// in the folder itself, whichever holds it, spelt as on disk. Where neither
// does, where it would be on a copy of the disc (in Extends, if there is one).
std::string FolderPicturePath(const std::string& folder, int number);

// What a path given to the program asks for: a folder of pictures, or an RQ6
// file whose folder becomes the source of pictures.
struct OpenedPath {
    bool accepted = false;
    std::string folder;  // the pictures' folder, when accepted
    int picture = 0;     // 6 ... 10 for a picture file (its box is checked), else 0
};
OpenedPath OpenPath(const std::string& path);

// A command-line argument as a path. A folder passed quoted with a trailing
// backslash ("D:\") reaches the program as D:" (the backslash escapes the
// quote); the quote is that backslash.
std::string ArgumentPath(std::string argument);
