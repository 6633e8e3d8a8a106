// The nesting guard together with the parser it protects. The input is a little program that
// builds a document from pieces meant to mislead a depth count: elements opened and closed,
// unbalanced closing tags, and closing tags hidden where the parser skips them (a DOCTYPE's
// internal subset, comments, processing instructions, CDATA, quoted values), with repeats of up
// to 65536 pieces. Whatever the guard lets through is parsed on a thread with a stack of 1 MiB,
// ample for the limit's 256 levels and soon exhausted by a few thousand: a guard that can be
// fooled crashes the run, and a parsed document deeper than the limit fails it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <utility>
#include <vector>

#include <rapidxml/rapidxml.hpp>

#include "XmlNesting.h"

namespace {

constexpr std::size_t kMaxText = 1u << 20;
constexpr std::size_t kParserStack = 1u << 20;

// One piece per opcode; the ones that take a count read it from the next byte.
const char* const kPieces[] = {
    "<a>",                          // 0 open
    "</a>",                         // 1 close
    "<e/>",                         // 2 empty element
    nullptr,                        // 3 DOCTYPE whose subset holds `count` closing tags
    "<!-- </z></z> -->",            // 4
    "<?pi </z> ?>",                 // 5
    "<![CDATA[</z>]]>",             // 6
    "<a q='</z>' r=\"/>\">",        // 7 open, with quoted look-alikes
    "<a'>",                         // 8 open: a quote is part of the name
    "text",                         // 9
    "<?></z>?>",                    // 10
    "<!--></z>-->",                 // 11
    nullptr,                        // 12 repeat the next piece
    "<!x </z>>",                    // 13 another "<!" node
    "]]>?>-->",                     // 14 stray ends
    "<!DOCTYPE d [<!ENTITY e ']'></z>]>",  // 15 brackets counted even inside quotes
};

std::string Build(const uint8_t* data, size_t size) {
    std::string doc;
    size_t i = 0;
    auto next = [&]() -> unsigned { return i < size ? data[i++] : 0; };
    while (i < size) {
        unsigned op = next() % 16;
        std::size_t times = 1;
        if (op == 12) {
            const std::size_t high = next();
            times = (high << 8 | next()) + 1;
            op = next() % 16;
            if (op == 12) continue;
        }
        std::string piece;
        if (op == 3) {
            piece = "<!DOCTYPE d [";
            for (unsigned n = next(); n > 0; --n) piece += "</z>";
            piece += "]>";
        } else {
            piece = kPieces[op];
        }
        if (doc.size() + piece.size() * times > kMaxText) break;
        for (std::size_t t = 0; t < times; ++t) doc += piece;
    }
    return doc;
}

// Deepest element of a parsed document, walked without recursion.
int Depth(const rapidxml::xml_node<char>& root) {
    int deepest = 0;
    std::vector<std::pair<const rapidxml::xml_node<char>*, int>> todo{{&root, 0}};
    while (!todo.empty()) {
        const auto [node, depth] = todo.back();
        todo.pop_back();
        for (auto* child = node->first_node(); child != nullptr; child = child->next_sibling()) {
            if (child->type() != rapidxml::node_element) continue;
            if (depth + 1 > deepest) deepest = depth + 1;
            todo.emplace_back(child, depth + 1);
        }
    }
    return deepest;
}

struct Parse {
    std::vector<char> text;
    int depth = -1;  // of the parsed document; -1 when the parser refused it
};

void* ParseOnThisThread(void* arg) {
    auto* parse = static_cast<Parse*>(arg);
    rapidxml::xml_document<char> parsed;
    try {
        parsed.parse<rapidxml::parse_default>(parse->text.data());
    } catch (const rapidxml::parse_error&) {
        return nullptr;
    }
    parse->depth = Depth(parsed);
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string doc = Build(data, size);
    if (!XmlNestingWithinLimit(doc)) return 0;
    Parse parse{std::vector<char>(doc.begin(), doc.end())};
    parse.text.push_back('\0');
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kParserStack);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, &ParseOnThisThread, &parse) != 0) std::abort();
    pthread_attr_destroy(&attributes);
    pthread_join(thread, nullptr);
    if (parse.depth > kMaxXmlDepth) {
        std::fprintf(stderr, "the guard let through a document %d levels deep\n", parse.depth);
        std::abort();
    }
    return 0;
}
