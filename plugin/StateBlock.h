#pragma once

#include <memory>

#include <juce_core/juce_core.h>

// Reads the XML document of a host state block (the framework's binary XML wrapper: "VC2!", a
// 32-bit little-endian length, UTF-8 text, a zero byte) the way the framework's getXmlFromBinary
// does, with more cases of text that counts as not parsing, each of which the framework's parser
// mishandles: text that is not valid UTF-8 (read past its end), a processing instruction other
// than a leading XML declaration (one inside an element followed by text loops forever), a
// document type declaration (its entities are expanded recursively), a reference other than the
// five named ones and numeric ones closed by ';' (one ending the text reads past its end, an
// unknown name is read as markup), and elements nested deeper than kep::load_limits::max_nesting
// (the parser and every walk over what it builds recurse once per level; a linear scan finds the
// depth first). The plug-in's own state holds none of them. Attribute values are passed through
// withReadableExponent, since the parameters' values are read as numbers, and a "value" that reads
// as NaN is dropped (its parameter then takes its default, as for a missing value). Returns null
// for a block to be ignored.
std::unique_ptr<juce::XmlElement> readStateBlock(const void* data, int sizeInBytes);
