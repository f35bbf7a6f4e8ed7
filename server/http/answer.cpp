#include "http/answer.h"

#include "config/texts.h"
#include "config/utf8_text.h"
#include "http/request.h"

namespace {

constexpr std::string_view kDocumentHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
                                           "<plist version=\"1.0\"><dict>";
constexpr std::string_view kDocumentTail = "</dict></plist>";

} // namespace

std::string XmlEscape(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

PlistDict& PlistDict::Add(std::string_view key, std::string_view value)
{
    // The document is UTF-8; a name that is not (a file name in another encoding) shows
    // with replacement characters instead of making the whole answer unreadable.
    m_body += "<key>";
    m_body += XmlEscape(SanitizeUtf8(key));
    m_body += "</key><string>";
    m_body += XmlEscape(SanitizeUtf8(value));
    m_body += "</string>";
    return *this;
}

PlistDict& PlistDict::Add(std::string_view key, long long value)
{
    return Add(key, std::to_string(value));
}

PlistDict& PlistDict::AddRaw(std::string_view markup)
{
    m_body += markup;
    return *this;
}

std::string PlistDocument(std::string_view dictBody)
{
    std::string document;
    document.reserve(kDocumentHead.size() + dictBody.size() + kDocumentTail.size());
    document += kDocumentHead;
    document += dictBody;
    document += kDocumentTail;
    return document;
}

PlistDict PlistAnswer(int result, std::string_view message)
{
    PlistDict dict;
    dict.Add("result", result).Add("message", message);
    return dict;
}

bool HasErrorFrame(int code)
{
    switch (code) {
    case kResultFailedCreateId:
    case kResultFailedInput:
    case kResultNotExist:
    case kResultFailedId:
    case kResultDuplicateName:
    case kResultFullUser:
    case kResultFailedPassword:
    case kResultRefused:
    case kResultFailedUnknown:
        return true;
    default:
        return false;
    }
}

std::string MakeErrorAnswer(const TextTable& texts, int code, const char* textKey)
{
    if (!HasErrorFrame(code) || !textKey)
        return std::string();
    return PlistDocument(PlistAnswer(code, texts.Lookup(textKey)).Body());
}

std::string MakeSuccessAnswer(std::string_view message)
{
    return PlistDocument(PlistAnswer(kResultOk, message).Body());
}

void WriteAnswerHeader(HttpRequest& request)
{
    request.Write("HTTP/1.1 200 OK\r\n");
    request.Write("Content-Type: text/xml\r\n\r\n");
}

void WriteAnswerDocument(HttpRequest& request, std::string_view document)
{
    request.Write(document);
}

void WritePlistAnswer(HttpRequest& request, std::string_view document)
{
    WriteAnswerHeader(request);
    WriteAnswerDocument(request, document);
}
