// The terminal or console window that the tool writes its screens to.
//
// Colours travel as the 16-colour console attribute byte (foreground in bits
// 0-3, background in bits 4-6, bit 7 blink/bright background); each backend
// renders it its own way. Every call writes and flushes before it returns.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// The platform's own line end ("\n" on POSIX, "\r\n" on Windows).
extern const std::string_view kLineEnd;

// Looks at stdout and the environment once; call before any other console
// function. Afterwards colours are on when FORCE_COLOR or CLICOLOR_FORCE
// ask for them, and otherwise only when stdout is a terminal and neither
// NO_COLOR nor TERM=dumb forbids them.
void ConsoleOpen();

// The attribute the console has at start-up: the user's own colours.
std::uint8_t ConsoleStartAttribute();

// Writes text at the cursor in the given attribute.
void ConsoleWrite(std::string_view text, std::uint8_t attribute);

// Fills the window with blanks in the given attribute and homes the cursor:
// a Windows console always, any other output with ANSI sequences while
// colours are on (a pipe too, when they are forced), and nothing otherwise.
void ConsoleClear(std::uint8_t attribute);

// Gives the console back its own colours; called as the process ends.
void ConsoleClose();

// Gives the terminal its own colours back at once, when colours are on
// (and a Windows console its output code page, where a write switched it).
// Safe in a signal handler or a console control handler.
void ConsoleResetNow();

}  // namespace platform
