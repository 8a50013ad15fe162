// The tool's words in the user's language, through GNU gettext. Every
// message is written in English in the source; catalogues in po/ translate
// them, and English is what a user gets without one.
#pragma once

#include <string>

#include "formats/translation.h"

namespace msg {

// The text domain of the tool's catalogues (tavrel.mo).
inline constexpr const char* kDomain = "tavrel";

// Every message the tool prints on stderr starts with this, so that a user
// sees which program spoke among the output of a pipeline.
inline constexpr const char* kPrefix = "tavrel: ";

// "tavrel: TEXT" and a newline: one message as the tool prints it.
inline std::string Line(const std::string& text) { return kPrefix + text + "\n"; }

// Prints Line(text) on stderr.
void Say(const std::string& text);

// Takes the language and character set from the environment and finds the
// catalogues: those beside the program (<program dir>/../share/locale, the
// build tree's or the installed tree's) when they are there, else those of
// the directory the tool was built to be installed in. Numbers keep the
// C locale's form, so "--exponent 1.5" means the same everywhere.
void Init();

// The same with the catalogues in `localeDir`. Either makes the catalogues
// translate Tr's messages too, those of the file formats included.
void Init(const std::string& localeDir);

// The translation of an English message in a context that tells apart
// messages of the same English wording (pgettext).
#if defined(__GNUC__)
__attribute__((format_arg(2)))
#endif
const char*
TrIn(const char* context, const char* english);

}  // namespace msg
