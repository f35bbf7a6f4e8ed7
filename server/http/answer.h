#pragma once

// Property-list answers: every client answer that is not a file or a playlist is an
// Apple plist document whose dictionary starts with "result" (0 or a negative code)
// and "message", followed by the keys of the particular request. Every value is a
// string element; every text put into a document goes through XmlEscape. Answers are
// sent with status 200, errors included, without Content-Length; the connection
// closes after them.

#include <string>
#include <string_view>

class HttpRequest;
class TextTable;

enum ResultCode : int {
    kResultOk = 0,
    kResultFailedCreateId = -3,
    kResultFailedInput = -11, // a required query variable is missing or empty
    kResultNotExist = -12, // with kTextNotExistFolder or kTextNotExistFile
    kResultFailedId = -14, // the client id is not known
    kResultDuplicateName = -15,
    kResultFullUser = -16, // the limit of live streams is reached
    kResultFailedPassword = -17, // "/connect" without the right password (RequirePassword)
    kResultRefused = -18, // the request is not allowed from where it came
    kResultFailedUnknown = -100,
};

// Language keys of the error messages.
inline constexpr const char* kTextFailedCreateId = "IDS_ERROR_FAILED_CREATEID";
inline constexpr const char* kTextFailedInput = "IDS_ERROR_FAILED_INPUT";
inline constexpr const char* kTextNotExistFolder = "IDS_ERROR_NOTEXIST_FOLDER";
inline constexpr const char* kTextNotExistFile = "IDS_ERROR_NOTEXIST_FILE";
inline constexpr const char* kTextFailedId = "IDS_ERROR_FAILED_ID";
inline constexpr const char* kTextDuplicateName = "IDS_ERROR_DUPLICATE_NAME";
inline constexpr const char* kTextFullUser = "IDS_ERROR_FULLUSER";
inline constexpr const char* kTextFailedUnknown = "IDS_ERROR_FAILED_UNKNOWN";
inline constexpr const char* kTextFailedPassword = "IDS_ERROR_FAILED_PASSWORD";
inline constexpr const char* kTextServerOffRefused = "IDS_ERROR_SERVEROFF_REFUSED";
inline constexpr const char* kTextPasswordNeeded = "IDS_ERROR_PASSWORD_NEEDED";
inline constexpr const char* kTextPasswordWait = "IDS_ERROR_PASSWORD_WAIT";
inline constexpr const char* kTextConvertOutput = "IDS_ERROR_CONVERT_OUTPUT";
inline constexpr const char* kTextConvertQueueFull = "IDS_ERROR_CONVERT_QUEUE_FULL";
inline constexpr const char* kTextConvertDiskFull = "IDS_ERROR_CONVERT_DISK_FULL";

// "&" first (so entities made later are not escaped again), then "<", ">", '"', "'".
// Nothing else changes.
std::string XmlEscape(std::string_view text);

// The dictionary of a document, built key by key in a fixed order.
class PlistDict {
public:
    // Adds "<key>key</key><string>escaped value</string>"; bytes that are not UTF-8
    // become U+FFFD.
    PlistDict& Add(std::string_view key, std::string_view value);
    PlistDict& Add(std::string_view key, long long value);
    // Adds markup built elsewhere (an array of dictionaries), as it stands.
    PlistDict& AddRaw(std::string_view markup);
    const std::string& Body() const { return m_body; }

private:
    std::string m_body;
};

// The declaration, the plist 1.0 document type, "<plist version="1.0"><dict>", the
// body and "</dict></plist>", with no whitespace between the pieces. List documents
// use it directly; answers through PlistAnswer.
std::string PlistDocument(std::string_view dictBody);

// A dictionary that starts with "result" and "message"; add the request's own keys.
PlistDict PlistAnswer(int result, std::string_view message = {});

// True for the codes that have an error frame (-3, -11, -12, -14, -15, -16, -17, -18, -100).
bool HasErrorFrame(int code);

// The error answer of a code: "result" code and "message" the escaped language text
// of textKey. A code without a frame yields an empty document.
std::string MakeErrorAnswer(const TextTable& texts, int code, const char* textKey);

// "result" 0 and message (escaped; empty for the plain success answer).
std::string MakeSuccessAnswer(std::string_view message = {});

// The answer writer: "HTTP/1.1 200 OK\r\n", then "Content-Type: text/xml\r\n\r\n",
// then the document. The header goes out first so a handler can write it before it
// builds the document.
void WriteAnswerHeader(HttpRequest& request);
void WriteAnswerDocument(HttpRequest& request, std::string_view document);
void WritePlistAnswer(HttpRequest& request, std::string_view document);
