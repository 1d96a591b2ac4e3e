#include "plugin/StateBlock.h"

#include <algorithm>
#include <cmath>

#include "plugin/NumberText.h"

namespace
{
constexpr juce::uint32 magic = 0x21324356; // "VC2!"

// True when the only processing instruction is one at the very start (after white space).
bool onlyLeadingProcessingInstruction(const juce::String& text)
{
    const int first = text.indexOf("<?");
    if (first < 0)
        return true;
    if (!text.substring(0, first).trim().isEmpty())
        return false;
    return text.indexOf(first + 2, "<?") < 0;
}

// True when the text ends inside a hexadecimal character reference ("&#x" and at most eight hex
// digits): the framework's parser then steps over the end of the text.
bool endsInHexReference(const juce::String& text)
{
    const int reference = std::max(text.lastIndexOf("&#x"), text.lastIndexOf("&#X"));
    if (reference < 0)
        return false;
    const auto digits = text.substring(reference + 3);
    return digits.length() <= 8 && digits.containsOnly("0123456789abcdefABCDEF");
}

// Every attribute value may reach the framework's text-to-number reading (the parameters'
// "value" does): exponents that it would overflow are made readable, and a "value" that reads as
// NaN is dropped, so that its parameter takes its default as if the value were missing.
void makeNumbersReadable(juce::XmlElement& element)
{
    for (int i = element.getNumAttributes(); --i >= 0;)
    {
        const auto name = element.getAttributeName(i);
        const auto value = element.getAttributeValue(i);
        const auto readable = withReadableExponent(value);
        if (name == "value" && std::isnan(readable.getDoubleValue()))
            element.removeAttribute(name);
        else if (readable != value)
            element.setAttribute(name, readable);
    }
    for (auto* child : element.getChildIterator())
        makeNumbersReadable(*child);
}
} // namespace

std::unique_ptr<juce::XmlElement> readStateBlock(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt(data) != magic)
        return nullptr;
    const auto* bytes = static_cast<const char*>(data);
    const int length = static_cast<int>(juce::ByteOrder::littleEndianInt(bytes + 4));
    if (length < 1)
        return nullptr;
    const char* text = bytes + 8;
    const int available = std::min(sizeInBytes - 8, length);
    const int textBytes = static_cast<int>(std::find(text, text + available, '\0') - text);
    if (textBytes == 0 || !juce::CharPointer_UTF8::isValidString(text, textBytes))
        return nullptr;
    const auto xml = juce::String::fromUTF8(text, textBytes);
    if (!onlyLeadingProcessingInstruction(xml) || xml.containsIgnoreCase("<!DOCTYPE") || endsInHexReference(xml))
        return nullptr;
    auto document = juce::parseXML(xml);
    if (document != nullptr)
        makeNumbersReadable(*document);
    return document;
}
