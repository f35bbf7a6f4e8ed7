#pragma once

// The program's small XML reader, used on the property-list answers of the console
// service. It is forgiving by design: Load builds what it can, keeps what it built
// when it stops, and records only the first error in the caller's XmlParseInfo; it
// never throws. Positions are byte offsets into the text given to Load.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class XmlNodeType {
    Element = 0,
    ProcessingInstruction = 1,
    Comment = 2,
    CData = 3,
    Document = 4
};

// One entity: the character and its reference ("&" and "&amp;").
struct XmlEntity {
    char character;
    std::string_view reference;
};
using XmlEntityTable = std::vector<XmlEntity>;

// "&amp;", "&quot;", "&apos;", "&lt;", "&gt;", in this order.
const XmlEntityTable& BuiltInXmlEntities();

std::string DecodeXmlEntities(std::string_view text, const XmlEntityTable& entities);
std::string EncodeXmlEntities(std::string_view text, const XmlEntityTable& entities);

enum XmlParseError {
    kXmlErrorNone = 0,
    kXmlErrorNotClosed = 1, // "Element must be closed."
    kXmlErrorNoEndTag = 2, // "%s must be closed with </%s>" or "it must be closed with </%s>"
    kXmlErrorNesting = 3, // "'<%s> ... </%s>' is not wel-formed."
    kXmlErrorAttribute = 4, // "<%s> attribute has error "
    kXmlErrorTooDeep = 5, // "Elements are nested too deeply."
};

struct XmlParseInfo {
    bool trimValue = false; // strip white space around text and attribute values
    bool decodeEntities = true;
    const XmlEntityTable* entities = &BuiltInXmlEntities();
    char escapeCharacter = '\\'; // makes the next character literal and is dropped; 0 for none
    bool forceParse = false; // go on after a wrongly nested end tag

    // The first error only; later errors leave these as they are.
    bool errorOccurred = false;
    size_t errorPosition = 0;
    int errorCode = kXmlErrorNone;
    std::string errorText;
};

struct XmlTextOptions {
    bool newLines = true;
    bool encodeEntities = true;
    char quoteCharacter = '"';
    const XmlEntityTable* entities = &BuiltInXmlEntities();
};

class XmlNode;

struct XmlAttribute {
    std::string name;
    std::string value;
    XmlNode* owner = nullptr;
};

class XmlNode {
public:
    explicit XmlNode(XmlNodeType type = XmlNodeType::Element, XmlNode* parent = nullptr,
        XmlNode* document = nullptr);
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    // Parses one element (with what comes before it) from text at start. Returns the
    // position after the parsed element, or nullopt on error (see info). A document
    // node parses its root element into a new child.
    std::optional<size_t> Load(std::string_view text, XmlParseInfo& info, size_t start = 0);

    // The node's text: an element's children's texts in order, then its own value; a
    // character-data node's value; a document's children's texts; nothing otherwise.
    std::string GetText(const XmlTextOptions& options = {}) const;

    // The first direct child whose name is exactly name, or null.
    const XmlNode* FindChild(std::string_view name) const;
    const XmlNode* FindDict() const { return FindChild("dict"); }

    // Removes name, value, children and attributes.
    void Clear();

    std::string name;
    std::string value;
    XmlNode* parent = nullptr;
    XmlNode* document = nullptr;
    std::vector<std::unique_ptr<XmlNode>> children;
    std::vector<std::unique_ptr<XmlAttribute>> attributes;
    XmlNodeType type = XmlNodeType::Element;

private:
    class Parser;
};
