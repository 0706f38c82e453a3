// Reading the node number from the command line.
#pragma once

/// Lowest and highest node number the tool accepts: the three fingers and the spread.
constexpr int kFirstNodlet = 11;
constexpr int kLastNodlet = 14;

/// Reads |text| as atoi does (leading white space, an optional sign, decimal digits up to the
/// first other character; no digits reads as 0) and stores the value in |node|. Returns false
/// when the value is outside kFirstNodlet..kLastNodlet, including digits too many for an int.
bool parseNodeNumber(const char* text, int* node);
