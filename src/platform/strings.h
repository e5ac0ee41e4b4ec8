// Small text helpers of the portable core (UTF-8 std::string throughout).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Replaces every occurrence of from by to in one left-to-right pass.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// Splits at every separator; an empty text gives one empty piece.
std::vector<std::string> Split(std::string_view text, char separator);
std::string ToLowerAscii(std::string_view text);
bool Contains(std::string_view text, std::string_view part);
