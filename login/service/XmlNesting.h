#pragma once

#include <string>

// rapidxml parses and prints recursively, one stack frame per level: a text nested a few hundred
// thousand levels deep (a damaged file, a hostile reply) would overflow the stack. Every text is
// checked with this before it is parsed; our documents are a handful of levels deep.
constexpr int kMaxXmlDepth = 256;

// False when elements nest deeper than kMaxXmlDepth. Comments, CDATA, declarations and quoted
// attribute values are skipped, so a ">" or "<" inside them does not count.
bool XmlNestingWithinLimit(const std::string& text);
