// The words the file formats report problems in. They are written in English
// in the source and marked with Tr, so that a program's message catalogues
// can take them in; the program that has catalogues sets the translator that
// finds a message there (the tool's messages do, through gettext). Without
// one, messages stay English.
#pragma once

#include <string>

namespace msg {

// The translation of an English message, or `english` itself.
using Translator = const char* (*)(const char* english);

// Sets the translator of every later Tr; nullptr: English.
void SetTranslator(Translator translator);

// The translation of an English message.
#if defined(__GNUC__)
__attribute__((format_arg(1)))
#endif
const char*
Tr(const char* english);

// Marks a message for the catalogue where it is defined, in a table for
// instance; it is translated by Tr where it is used.
constexpr const char* TrLater(const char* english) { return english; }

// printf into a string. Translations may take the arguments in another
// order ("%2$s ... %1$s").
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* format, ...);

// What the system says of an error number (strerror), in the user's language.
std::string SystemReason(int error);

}  // namespace msg
