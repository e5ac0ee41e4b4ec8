// The tool's output: messages and progress go to the error stream, as GNU
// wget writes them; nothing at all with -q.
#pragma once

#include <string_view>

namespace wget {

void SetQuiet(bool quiet);
// Writes UTF-8 text to the error stream: through WriteConsoleW on a
// console, as UTF-8 bytes into a file or pipe.
void Say(std::string_view text);
// True when the error stream is a console, where a progress bar is redrawn
// in place; elsewhere progress is logged line by line.
bool OnConsole();
int ConsoleColumns();
// Redraws the progress line on a console (carriage return, no new line).
void SayProgress(std::string_view line);
// Writes text to standard output (the help and version texts).
void SayOut(std::string_view text);

}  // namespace wget
