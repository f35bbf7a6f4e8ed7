// Request heads as the standalone console's front reads them: what it takes from a
// well-formed head, and the status it refuses each malformed one with.

#include "console/request_head.h"

#include <gtest/gtest.h>

namespace {

constexpr size_t kHead = 16 * 1024;
constexpr size_t kBody = 64 * 1024;

TEST(ConsoleRequestHead, TakesPathLengthConnectionAndForwardedAddresses)
{
    RequestHead head;
    std::string bytes = "\r\nPOST http://console.example/pin/registerPINCode.php?x=1 HTTP/1.1\r\n"
                        "content-LENGTH:  12 \r\nX-Forwarded-For: 192.0.2.1\r\n"
                        "X-Forwarded-For: 198.51.100.4\r\nConnection: Close\r\n\r\nmac=1&name=2";
    ASSERT_EQ(ParseRequestHead(bytes, kHead, kBody, head), HeadStatus::Complete);
    EXPECT_EQ(head.method, "POST");
    EXPECT_EQ(head.path, "/pin/registerPINCode.php");
    EXPECT_EQ(head.contentLength, 12u);
    EXPECT_FALSE(head.keepAlive);
    EXPECT_EQ(head.forwardedFor, "192.0.2.1, 198.51.100.4");
    EXPECT_EQ(bytes.substr(head.headBytes), "mac=1&name=2");

    ASSERT_EQ(
        ParseRequestHead("GET /health HTTP/1.1\r\n\r\n", kHead, kBody, head), HeadStatus::Complete);
    EXPECT_TRUE(head.keepAlive);
    EXPECT_EQ(head.contentLength, 0u);
    ASSERT_EQ(
        ParseRequestHead("GET /health HTTP/1.0\r\n\r\n", kHead, kBody, head), HeadStatus::Complete);
    EXPECT_FALSE(head.keepAlive);
    EXPECT_EQ(ParseRequestHead("GET /health HTTP/1.1\r\nHost: a\r\n", kHead, kBody, head),
        HeadStatus::Incomplete);
}

TEST(ConsoleRequestHead, RefusesWhatIsMalformedOrTooLargeWithItsStatus)
{
    const std::pair<std::string, int> cases[] = {
        { "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411 },
        { "POST /a HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", 413 },
        { "POST /a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400 },
        { "POST /a HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400 },
        { "POST /a HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 400 },
        { "POST /a HTTP/2.0\r\n\r\n", 505 },
        { "POST /a FTP/1.0\r\n\r\n", 400 },
        { "POST  /a HTTP/1.1\r\n\r\n", 400 },
        { "POST a HTTP/1.1\r\n\r\n", 400 },
        { "PO(ST /a HTTP/1.1\r\n\r\n", 400 },
        { "POST /a\x01 HTTP/1.1\r\n\r\n", 400 },
        { "POST /a HTTP/1.1\r\nNo colon here\r\n\r\n", 400 },
        { "POST /a HTTP/1.1\r\nName : value\r\n\r\n", 400 },
        { "POST /a HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", 400 },
        { "POST /a HTTP/1.1\r\nA: b\x01\r\n\r\n", 400 },
        { "POST /a HTTP/1.1\r\nA: " + std::string(kHead, 'x') + "\r\n\r\n", 431 },
        { "POST /a HTTP/1.1\r\nA: " + std::string(kHead, 'x'), 431 },
    };
    for (const auto& [bytes, status] : cases) {
        RequestHead head;
        HeadStatus parsed = ParseRequestHead(bytes, kHead, kBody, head);
        ASSERT_NE(parsed, HeadStatus::Complete) << bytes.substr(0, 80);
        ASSERT_NE(parsed, HeadStatus::Incomplete) << bytes.substr(0, 80);
        EXPECT_EQ(StatusOfRefusal(parsed), status) << bytes.substr(0, 80);
    }
}

} // namespace
