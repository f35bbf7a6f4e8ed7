#pragma once

// The one HTTP/1.x client of the server tests and benchmarks: a real loopback
// socket, the request bytes sent exactly as given, the answer read until the server
// closes (or the time limit passes) and split into status, headers and body.

#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

struct HttpReply {
    int status = 0; // 0 when nothing arrived
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string raw;
    bool connected = false;
    double seconds = 0; // from connecting to the end of the answer

    std::string Header(const std::string& name) const
    {
        auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

inline HttpReply ParseRawReply(std::string raw)
{
    HttpReply reply;
    reply.raw = raw;
    size_t headEnd = raw.find("\r\n\r\n");
    std::string head = raw.substr(0, headEnd);
    reply.body = headEnd == std::string::npos ? std::string() : raw.substr(headEnd + 4);
    size_t lineEnd = head.find("\r\n");
    std::string statusLine = head.substr(0, lineEnd);
    size_t space = statusLine.find(' ');
    if (statusLine.starts_with("HTTP/") && space != std::string::npos)
        reply.status = std::atoi(statusLine.c_str() + space + 1);
    while (lineEnd != std::string::npos) {
        size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string line = head.substr(
            start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t valueStart = line.find_first_not_of(' ', colon + 1);
        reply.headers[name]
            = valueStart == std::string::npos ? std::string() : line.substr(valueStart);
    }
    return reply;
}

// The request sent from the IPv4 address from (empty: the kernel's pick) to to:port.
inline HttpReply SendRawRequestBetween(const std::string& from, const std::string& to, int port,
    const std::string& request, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    auto started = std::chrono::steady_clock::now();
    HttpReply failed;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return failed;
    sockaddr_in source {};
    source.sin_family = AF_INET;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if ((!from.empty()
            && (inet_pton(AF_INET, from.c_str(), &source.sin_addr) != 1
                || bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof(source)) != 0))
        || inet_pton(AF_INET, to.c_str(), &address.sin_addr) != 1
        || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return failed;
    }
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd waiting { fd, POLLIN, 0 };
        if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            break;
        ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        raw.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    HttpReply reply = ParseRawReply(raw);
    reply.connected = true;
    reply.seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return reply;
}

inline HttpReply SendRawRequest(int port, const std::string& request,
    std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    return SendRawRequestBetween(std::string(), "127.0.0.1", port, request, timeout);
}

// One request on a fresh connection; extra header lines end in "\r\n".
inline HttpReply HttpSend(int port, const std::string& method, const std::string& target,
    const std::string& extraHeaders = {}, const std::string& host = "127.0.0.1",
    std::chrono::milliseconds timeout = std::chrono::seconds(60))
{
    return SendRawRequest(port,
        method + " " + target + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) + "\r\n"
            + extraHeaders + "Connection: close\r\n\r\n",
        timeout);
}

// GET http://127.0.0.1:port + target, reading to the end of the connection.
inline HttpReply HttpGet(int port, const std::string& target,
    std::chrono::milliseconds timeout = std::chrono::seconds(60),
    const std::string& host = "127.0.0.1")
{
    return HttpSend(port, "GET", target, {}, host, timeout);
}

inline HttpReply HttpGetRaw(int port, const std::string& target,
    const std::string& extraHeaders = "", const std::string& method = "GET")
{
    return HttpSend(port, method, target, extraHeaders, "127.0.0.1", std::chrono::seconds(10));
}

// A port that was free a moment ago (the kernel's pick), for a server to bind next.
inline int PickFreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof(address);
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0
        && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}
