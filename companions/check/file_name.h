// A firmware file's name as the tool and the faces pass it on: the tool writes it into its own
// messages as it stands, and every face shows it, so a name that holds a control character
// could pass for a line or a message of its own. Such a name is refused before anything is
// touched.
#pragma once

#include <string>
#include <string_view>

/// True when |text| holds a control character: a byte below 0x20, or 0x7F.
bool hasControlCharacter(std::string_view text);

/// |text| on one line, its control characters written as escapes: \n, \r, \t and the other C
/// escapes, \xHH for the rest. Every other byte is kept as it is.
std::string escapedText(std::string_view text);

/// What is wrong with a firmware file named |path|, as a sentence for a person, the name shown
/// escaped; empty when nothing is.
std::string fileNameProblem(std::string_view path);
