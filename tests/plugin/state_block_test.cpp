// The nesting scan of readStateBlock against the framework's parser: a block is read exactly when
// the parser builds no element deeper than kep::load_limits::max_nesting. (The two elements ended by
// a broken attribute that review found at depth 65 are the host_state fuzz target's regressions.)

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/load_limits.h"
#include "plugin/StateBlock.h"
#include "test_support.h"

namespace
{
using testing_support::repeated;

constexpr int limit = kep::load_limits::max_nesting;

// A numeric reference longer than the parser reads: it records an error that lets the parse go on,
// and that clears any error recorded before (a document with an error is otherwise not returned).
const std::string clearsErrors = "&#x123456789;";

juce::MemoryBlock block(const std::string& text)
{
    juce::MemoryBlock result;
    juce::MemoryOutputStream out(result, false);
    out.writeInt(0x21324356);
    out.writeInt(static_cast<int>(text.size()));
    out.write(text.data(), text.size());
    out.writeByte(0);
    out.flush();
    return result;
}

bool read(const std::string& text)
{
    const auto data = block(text);
    return readStateBlock(data.getData(), static_cast<int>(data.getSize())) != nullptr;
}

// Levels of elements, text left out; 0 when the parser returns nothing.
int depth(const juce::XmlElement* element)
{
    if (element == nullptr || element->isTextElement())
        return 0;
    int deepest = 0;
    for (const auto* child : element->getChildIterator())
        deepest = std::max(deepest, depth(child));
    return deepest + 1;
}

int parsedDepth(const std::string& text)
{
    return depth(juce::parseXML(juce::String::fromUTF8(text.data(), static_cast<int>(text.size()))).get());
}

// Pieces of text and the levels the parser opens (1) or closes (-1) on each.
struct Piece
{
    const char* text;
    int levels;
};

const std::vector<Piece> pieces = {
    // Start tags with children.
    { "<a>", 1 }, { "<a x=\"1\" y='&amp;'>", 1 }, { "< a\t>", 1 }, { "<\n<!--c-->a >", 1 },
    { "<a x=\"/>\" y='</a>'>", 1 }, { "<a <!--/>-->>", 1 }, { "<a x = \"&#x123456789;\"\n>", 1 },
    { "<a:b-c.d_e>", 1 }, { "<b <c>", 1 },
    // Elements without children, well formed or not: unquoted or missing values, a missing '=',
    // characters that cannot start an attribute.
    { "<b/>", 0 }, { "<b x='1'y=\"2\"/>", 0 }, { "<b x=1>", 0 }, { "<b x=>", 0 }, { "<b x=&amp;>", 0 },
    { "<b x>", 0 }, { "<b x y='1'>", 0 }, { "<b !>", 0 }, { "<b / >", 0 }, { "<b x='1'/ >", 0 },
    { "<b <!--x-->/>", 0 },
    // Closing tags, and start tags without a name, which end the element around them.
    { "</a>", -1 }, { "</>", -1 }, { "</a b>", -1 }, { "<>", -1 }, { "< >", -1 }, { "<!x>", -1 },
    { "<=>", -1 },
    // Content.
    { "text", 0 }, { " ", 0 }, { "&lt;&#60;&#x3C;&#x;", 0 }, { "&#12345678901234;", 0 },
    { clearsErrors.c_str(), 0 }, { "<!--<a>-->", 0 }, { "<![CDATA[<a>]]>", 0 }, { "<![CDATA[]]>", 0 },
    { ">/='\"", 0 },
};

// A document of random pieces, about that many levels deep (the parser's true depth may differ).
// Each document draws on a random half of the pieces, so that some go without the ones that end
// levels; half its pieces are start tags with children, so that the levels grow.
std::string randomDocument(std::mt19937& random, int levels)
{
    std::vector<Piece> chosen, openings;
    for (const auto& piece : pieces)
        if (&piece == &pieces.front() || random() % 2 != 0)
            (piece.levels == 1 ? openings : chosen).push_back(piece);
    chosen.insert(chosen.end(), openings.begin(), openings.end());
    const auto draw = [&](const std::vector<Piece>& from) { return from[random() % from.size()]; };

    std::string text = random() % 2 != 0 ? "<?xml version=\"1.0\"?>\n<a>" : "<a>";
    for (int open = 1; open != levels;)
    {
        const auto piece = draw(random() % 2 != 0 ? openings : chosen);
        if (open + piece.levels < 1)
            continue;
        text += piece.text;
        open += piece.levels;
    }
    // One more piece. Each ends in content, where the reference clears the errors recorded
    // before, so that the parser returns what it built.
    text += draw(chosen).text;
    return text + clearsErrors + repeated("</a>", levels + 2);
}

TEST(StateBlock, ReadExactlyWhenTheParserNestsNoDeeperThanTheLimit)
{
    std::mt19937 random(20240611);
    std::map<int, int> documentsByDepth;
    for (int i = 0; i < 6000; i++)
    {
        const auto text = randomDocument(random, limit - 3 + i % 6);
        const int parsed = parsedDepth(text);
        if (parsed == 0)
            continue;
        documentsByDepth[parsed]++;
        ASSERT_EQ(read(text), parsed <= limit) << "depth " << parsed << ": " << text;
    }
    for (const int near : { limit - 1, limit, limit + 1, limit + 2 })
        EXPECT_GT(documentsByDepth[near], 300) << "documents " << near << " deep";
}

} // namespace
