#include "remote/console_answer.h"

#include "config/xml_node.h"

namespace {

// The first element named "dict", depth first: the reader keeps what it built even
// when an answer is damaged further on.
const XmlNode* FindFirstDict(const XmlNode& node, int depth = 0)
{
    if (depth > 64)
        return nullptr;
    for (const auto& child : node.children) {
        if (child->type == XmlNodeType::Element && child->name == "dict")
            return child.get();
        if (const XmlNode* found = FindFirstDict(*child, depth + 1))
            return found;
    }
    return nullptr;
}

std::vector<std::string> DictTexts(const std::string& answer)
{
    XmlNode document(XmlNodeType::Document);
    XmlParseInfo info;
    document.Load(answer, info);
    std::vector<std::string> texts;
    const XmlNode* dict = FindFirstDict(document);
    if (!dict)
        return texts;
    // The values as they were meant: "&amp;" in the document is "&" in the name.
    XmlTextOptions plain;
    plain.encodeEntities = false;
    for (const auto& child : dict->children)
        texts.push_back(child->GetText(plain));
    return texts;
}

} // namespace

std::string ParseConsoleAnswer(
    const std::string& answer, const std::vector<ConsoleAnswerField>& fields, bool stopAtMessage)
{
    std::vector<std::string> texts = DictTexts(answer);
    bool failed = false;
    std::string message;
    for (size_t i = 0; i + 1 < texts.size(); ++i) {
        const std::string& key = texts[i];
        const std::string& value = texts[i + 1];
        if (key == "result") {
            failed = value != "0";
        } else if (key == "message" && failed) {
            message = value;
            if (stopAtMessage)
                break;
        } else {
            for (const ConsoleAnswerField& field : fields) {
                if (key == field.key && field.output)
                    *field.output = value;
            }
        }
    }
    return failed ? message : std::string();
}

std::string ParseExternalIpAnswer(const std::string& answer, std::string& ip)
{
    return ParseConsoleAnswer(answer, { { "ip", &ip } });
}

std::string ParseRegistrationAnswer(const std::string& answer, std::string& pinCode)
{
    return ParseConsoleAnswer(answer, { { "pincode", &pinCode } });
}

std::string ParseServerInfoAnswer(const std::string& answer, ServerInfo& info)
{
    return ParseConsoleAnswer(
        answer, { { "ip", &info.ip }, { "port", &info.port }, { "pcname", &info.name } });
}

std::string ParsePinUpdateAnswer(const std::string& answer)
{
    return ParseConsoleAnswer(answer, {}, true);
}

std::string ParseUpdateCheckAnswer(const std::string& answer, UpdateInfo& info)
{
    return ParseConsoleAnswer(
        answer, { { "version", &info.version }, { "code", &info.code }, { "url", &info.url } });
}
