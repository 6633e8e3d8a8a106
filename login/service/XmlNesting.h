#pragma once

#include <string>

// rapidxml parses and prints recursively, one stack frame per level: a text nested a few hundred
// thousand levels deep (a damaged file, a hostile reply) would overflow the stack. Every text is
// checked with this before it is parsed; our documents are a handful of levels deep.
constexpr int kMaxXmlDepth = 256;

// False when elements nest deeper than kMaxXmlDepth, and for a text the parser would reject
// anyway. The text is read with the parser's own grammar: whatever it skips (comments, CDATA,
// declarations, a DOCTYPE's internal subset, quoted attribute values) is skipped here too, and
// a closing tag only ever ends an open element, so no text can nest deeper than it counts.
bool XmlNestingWithinLimit(const std::string& text);
