#pragma once

// Reading the console's property-list answers. The first "dict" element is taken and
// its children are walked as a flat list of texts: after "result" comes the result
// code (anything but "0" marks the answer failed); after "message", in a failed
// answer, the error message; after one of the parser's output keys, that output. A
// key that is the last element has no value. Each parser returns the error message,
// empty for success (also for an answer without a "dict").

#include <string>
#include <utility>
#include <vector>

struct ConsoleAnswerField {
    const char* key;
    std::string* output;
};

// The walk shared by every answer parser. stopAtMessage ends the walk at the error
// message (the PIN update answer).
std::string ParseConsoleAnswer(const std::string& answer,
    const std::vector<ConsoleAnswerField>& fields, bool stopAtMessage = false);

// The external-address answer: keys "result", "message", "ip".
std::string ParseExternalIpAnswer(const std::string& answer, std::string& ip);

// The registration answer: "result", "message", "pincode".
std::string ParseRegistrationAnswer(const std::string& answer, std::string& pinCode);

struct ServerInfo {
    std::string ip;
    std::string port;
    std::string name;
};
// The server information answer: "result", "message", "ip", "port", "pcname".
std::string ParseServerInfoAnswer(const std::string& answer, ServerInfo& info);

// The PIN update answer: "result", "message" (the walk ends at the message).
std::string ParsePinUpdateAnswer(const std::string& answer);

struct UpdateInfo {
    std::string version;
    std::string code;
    std::string url;
};
// The update check answer: "result", "message", "version", "code", "url".
std::string ParseUpdateCheckAnswer(const std::string& answer, UpdateInfo& info);
