#include "config/xml_node.h"

namespace {

// Deeper nesting than this is refused, so hostile text cannot exhaust the stack.
constexpr int kMaxDepth = 512;

bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsBlank(std::string_view text)
{
    for (char c : text) {
        if (!IsWhite(c))
            return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsWhite(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsWhite(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

const XmlEntityTable& BuiltInXmlEntities()
{
    static const XmlEntityTable table = {
        { '&', "&amp;" },
        { '"', "&quot;" },
        { '\'', "&apos;" },
        { '<', "&lt;" },
        { '>', "&gt;" },
    };
    return table;
}

std::string DecodeXmlEntities(std::string_view text, const XmlEntityTable& entities)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const XmlEntity& entity : entities) {
                if (text.substr(i, entity.reference.size()) == entity.reference) {
                    decoded += entity.character;
                    i += entity.reference.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            decoded += text[i++];
    }
    return decoded;
}

std::string EncodeXmlEntities(std::string_view text, const XmlEntityTable& entities)
{
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        bool replaced = false;
        for (const XmlEntity& entity : entities) {
            if (entity.character == c) {
                encoded += entity.reference;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            encoded += c;
    }
    return encoded;
}

// One Load: the text, the caller's parse info and the nesting depth.
class XmlNode::Parser {
public:
    Parser(std::string_view text, XmlParseInfo& info)
        : m_text(text)
        , m_info(info)
    {
    }

    std::optional<size_t> loadNode(XmlNode& node, size_t pos);

private:
    bool startsWith(size_t pos, std::string_view prefix) const
    {
        return pos <= m_text.size() && m_text.substr(pos).substr(0, prefix.size()) == prefix;
    }
    size_t skipWhite(size_t pos) const
    {
        while (pos < m_text.size() && IsWhite(m_text[pos]))
            ++pos;
        return pos;
    }
    size_t findUnescaped(size_t pos, std::string_view stops) const;
    std::string cleanValue(std::string_view raw) const;
    void setError(int code, size_t pos, std::string text);

    std::optional<size_t> loadPrologItem(XmlNode& node, size_t pos, bool& returnNow);
    std::optional<size_t> loadProcessingInstruction(XmlNode& node, size_t pos);
    std::optional<size_t> loadAttributes(
        XmlNode& owner, size_t pos, size_t end, bool inInstruction);
    std::optional<size_t> loadChildren(XmlNode& node, size_t pos);
    bool keepSpecialNode(XmlNode& node, std::unique_ptr<XmlNode> special);

    std::string_view m_text;
    XmlParseInfo& m_info;
    int m_depth = 0;
};

size_t XmlNode::Parser::findUnescaped(size_t pos, std::string_view stops) const
{
    for (; pos < m_text.size(); ++pos) {
        char c = m_text[pos];
        if (m_info.escapeCharacter && c == m_info.escapeCharacter) {
            ++pos; // the next character is literal
            continue;
        }
        if (stops.find(c) != std::string_view::npos)
            return pos;
    }
    return std::string_view::npos;
}

std::string XmlNode::Parser::cleanValue(std::string_view raw) const
{
    if (m_info.trimValue)
        raw = Trimmed(raw);
    std::string plain;
    plain.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (m_info.escapeCharacter && raw[i] == m_info.escapeCharacter && i + 1 < raw.size())
            ++i;
        else if (m_info.escapeCharacter && raw[i] == m_info.escapeCharacter)
            continue;
        plain += raw[i];
    }
    if (m_info.decodeEntities && m_info.entities)
        return DecodeXmlEntities(plain, *m_info.entities);
    return plain;
}

void XmlNode::Parser::setError(int code, size_t pos, std::string text)
{
    if (m_info.errorOccurred)
        return;
    m_info.errorOccurred = true;
    m_info.errorCode = code;
    m_info.errorPosition = pos;
    m_info.errorText = std::move(text);
}

// Comments and character data go to the element being filled (then Load returns
// right after them) or, at top level, to the document. True when Load must return.
bool XmlNode::Parser::keepSpecialNode(XmlNode& node, std::unique_ptr<XmlNode> special)
{
    if (node.parent && node.parent->type == XmlNodeType::Element) {
        special->parent = node.parent;
        node.parent->children.push_back(std::move(special));
        return true;
    }
    if (node.document) {
        special->parent = node.document;
        node.document->children.push_back(std::move(special));
    }
    return false;
}

std::optional<size_t> XmlNode::Parser::loadProcessingInstruction(XmlNode& node, size_t pos)
{
    size_t end = m_text.find("?>", pos + 2);
    if (end == std::string_view::npos)
        return std::nullopt;
    auto instruction
        = std::make_unique<XmlNode>(XmlNodeType::ProcessingInstruction, nullptr, node.document);
    size_t nameEnd = m_text.find(' ', pos + 2);
    if (nameEnd == std::string_view::npos || nameEnd > end)
        nameEnd = end;
    instruction->name = std::string(m_text.substr(pos + 2, nameEnd - pos - 2));
    loadAttributes(*instruction, nameEnd, end, true);
    if (node.document) {
        XmlNode* holder = node.parent && node.parent->type == XmlNodeType::Element ? node.parent
                                                                                   : node.document;
        instruction->parent = holder;
        holder->children.push_back(std::move(instruction));
    }
    return end + 2;
}

// One item of the prolog at pos (after white space); nullopt when none is there or
// it is not terminated. returnNow is set when the item ends this Load.
std::optional<size_t> XmlNode::Parser::loadPrologItem(XmlNode& node, size_t pos, bool& returnNow)
{
    if (startsWith(pos, "<?"))
        return loadProcessingInstruction(node, pos);
    struct Special {
        std::string_view open, close, name;
        XmlNodeType type;
    };
    static const Special specials[] = {
        { "<!--", "-->", "#COMMENT", XmlNodeType::Comment },
        { "<![CDATA[", "]]>", "#CDATA", XmlNodeType::CData },
    };
    for (const Special& special : specials) {
        if (!startsWith(pos, special.open))
            continue;
        size_t close = m_text.find(special.close, pos + special.open.size());
        if (close == std::string_view::npos)
            return std::nullopt;
        auto made = std::make_unique<XmlNode>(special.type, nullptr, node.document);
        made->name = std::string(special.name);
        made->value = std::string(
            m_text.substr(pos + special.open.size(), close - pos - special.open.size()));
        returnNow = keepSpecialNode(node, std::move(made));
        return close + special.close.size();
    }
    return std::nullopt;
}

std::optional<size_t> XmlNode::Parser::loadAttributes(
    XmlNode& owner, size_t pos, size_t end, bool inInstruction)
{
    for (;;) {
        pos = skipWhite(pos);
        if (inInstruction && pos >= end)
            return pos;
        if (pos < end && (m_text[pos] == '>' || m_text[pos] == '/'))
            return pos;
        size_t nameEnd = m_text.find_first_of(" =", pos);
        if (nameEnd == std::string_view::npos || nameEnd >= end) {
            if (!inInstruction)
                setError(kXmlErrorAttribute, pos, "<" + owner.name + "> attribute has error ");
            return std::nullopt;
        }
        auto attribute = std::make_unique<XmlAttribute>();
        attribute->name = std::string(m_text.substr(pos, nameEnd - pos));
        attribute->owner = &owner;
        XmlAttribute& added = *attribute;
        owner.attributes.push_back(std::move(attribute));
        pos = skipWhite(nameEnd);
        if (pos >= end || m_text[pos] != '=')
            continue; // an attribute without a value
        pos = skipWhite(pos + 1);
        size_t valueEnd;
        if (pos < end && (m_text[pos] == '"' || m_text[pos] == '\'')) {
            valueEnd = findUnescaped(pos + 1, std::string_view(&m_text[pos], 1));
            if (valueEnd == std::string_view::npos || valueEnd >= end) {
                if (!inInstruction)
                    setError(kXmlErrorAttribute, pos, "<" + owner.name + "> attribute has error ");
                return std::nullopt;
            }
            added.value = cleanValue(m_text.substr(pos + 1, valueEnd - pos - 1));
            pos = valueEnd + 1;
        } else {
            valueEnd = findUnescaped(pos, " >");
            if (valueEnd == std::string_view::npos || valueEnd > end)
                valueEnd = end;
            added.value = cleanValue(m_text.substr(pos, valueEnd - pos));
            pos = valueEnd;
        }
    }
}

std::optional<size_t> XmlNode::Parser::loadChildren(XmlNode& node, size_t pos)
{
    while (pos < m_text.size()) {
        auto child = std::make_unique<XmlNode>(node.type, &node, node.document);
        auto next = loadNode(*child, pos);
        if (!child->name.empty())
            node.children.push_back(std::move(child));
        if (!next)
            return std::nullopt;
        pos = *next;
        if (startsWith(pos, "</")) {
            size_t nameStart = skipWhite(pos + 2);
            size_t nameEnd = m_text.find_first_of(" >", nameStart);
            if (nameEnd == std::string_view::npos) {
                setError(kXmlErrorNoEndTag, pos, "it must be closed with </" + node.name + ">");
                return std::nullopt;
            }
            std::string_view endName = m_text.substr(nameStart, nameEnd - nameStart);
            if (endName == node.name)
                return nameEnd + 1;
            if (!m_info.forceParse) {
                setError(kXmlErrorNesting, pos,
                    "'<" + node.name + "> ... </" + std::string(endName) + ">' is not wel-formed.");
                return std::nullopt;
            }
            pos = nameEnd + 1; // forced: the stray end tag is passed over
        } else if (IsBlank(node.value) && pos < m_text.size() && m_text[pos] != '<') {
            size_t open = findUnescaped(pos, "<");
            if (open == std::string_view::npos) {
                setError(kXmlErrorNoEndTag, pos, "it must be closed with </" + node.name + ">");
                return std::nullopt;
            }
            node.value = cleanValue(m_text.substr(pos, open - pos));
            pos = open;
        }
    }
    // The text ended inside the element.
    setError(kXmlErrorNoEndTag, pos, "it must be closed with </" + node.name + ">");
    return std::nullopt;
}

std::optional<size_t> XmlNode::Parser::loadNode(XmlNode& node, size_t pos)
{
    node.Clear();
    size_t open = m_text.find('<', pos);
    if (open == std::string_view::npos)
        return std::nullopt;
    if (startsWith(open, "</"))
        return open;
    pos = open;
    for (bool consumed = true; consumed;) {
        pos = skipWhite(pos);
        bool returnNow = false;
        auto next = loadPrologItem(node, pos, returnNow);
        consumed = next.has_value();
        if (next)
            pos = *next;
        if (returnNow)
            return pos;
    }
    if (pos >= m_text.size() || m_text[pos] != '<') {
        pos = m_text.find('<', pos);
        if (pos == std::string_view::npos)
            return std::nullopt;
    }
    if (startsWith(pos, "</"))
        return pos;
    if (startsWith(pos, "<?") || startsWith(pos, "<!--") || startsWith(pos, "<![CDATA["))
        return std::nullopt; // one that is never terminated

    if (m_depth >= kMaxDepth) {
        setError(kXmlErrorTooDeep, pos, "Elements are nested too deeply.");
        return std::nullopt;
    }
    size_t nameEnd = m_text.find_first_of(" />\t\r\n", pos + 1);
    if (nameEnd == std::string_view::npos)
        nameEnd = m_text.size();
    node.name = std::string(m_text.substr(pos + 1, nameEnd - pos - 1));

    auto afterAttributes = loadAttributes(node, nameEnd, m_text.size(), false);
    if (!afterAttributes)
        return std::nullopt;
    pos = *afterAttributes;
    if (m_text[pos] == '/') {
        if (startsWith(pos, "/>"))
            return pos + 2;
        setError(kXmlErrorNotClosed, pos, "Element must be closed.");
        return std::nullopt;
    }
    ++pos; // past '>'
    if (IsBlank(node.value)) {
        size_t textEnd = findUnescaped(pos, "<");
        if (textEnd == std::string_view::npos) {
            setError(
                kXmlErrorNoEndTag, pos, node.name + " must be closed with </" + node.name + ">");
            return std::nullopt;
        }
        node.value = cleanValue(m_text.substr(pos, textEnd - pos));
        pos = textEnd;
    }
    ++m_depth;
    auto end = loadChildren(node, pos);
    --m_depth;
    return end;
}

XmlNode::XmlNode(XmlNodeType nodeType, XmlNode* parentNode, XmlNode* documentNode)
    : parent(parentNode)
    , document(documentNode)
    , type(nodeType)
{
    if (type == XmlNodeType::Document && !document)
        document = this;
}

void XmlNode::Clear()
{
    name.clear();
    value.clear();
    children.clear();
    attributes.clear();
}

std::optional<size_t> XmlNode::Load(std::string_view text, XmlParseInfo& info, size_t start)
{
    Parser parser(text, info);
    if (type != XmlNodeType::Document)
        return parser.loadNode(*this, start);
    Clear();
    auto root = std::make_unique<XmlNode>(XmlNodeType::Element, this, this);
    auto end = parser.loadNode(*root, start);
    if (!root->name.empty())
        children.push_back(std::move(root));
    return end;
}

std::string XmlNode::GetText(const XmlTextOptions& options) const
{
    auto own = [&](const std::string& text) {
        if (options.encodeEntities && options.entities)
            return EncodeXmlEntities(text, *options.entities);
        return text;
    };
    std::string text;
    switch (type) {
    case XmlNodeType::Element:
        for (const auto& child : children)
            text += child->GetText(options);
        return text + own(value);
    case XmlNodeType::CData:
        return own(value);
    case XmlNodeType::Document:
        for (const auto& child : children)
            text += child->GetText(options);
        return text;
    default:
        return text;
    }
}

const XmlNode* XmlNode::FindChild(std::string_view childName) const
{
    for (const auto& child : children) {
        if (child->name == childName)
            return child.get();
    }
    return nullptr;
}
