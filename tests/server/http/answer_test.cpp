#include "config/texts.h"
#include "http/answer.h"
#include "platform/places.h"

#include <gtest/gtest.h>

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
                          "<plist version=\"1.0\"><dict>";
const std::string kTail = "</dict></plist>";

} // namespace

TEST(XmlEscape, ReplacesTheFiveCharactersAmpersandFirst)
{
    EXPECT_EQ(XmlEscape("Tom & Jerry <1> \"a\" 'b'"),
        "Tom &amp; Jerry &lt;1&gt; &quot;a&quot; &apos;b&apos;");
    // An entity already in the text is escaped again, not kept.
    EXPECT_EQ(XmlEscape("&amp;"), "&amp;amp;");
    EXPECT_EQ(XmlEscape("&lt;"), "&amp;lt;");
}

TEST(XmlEscape, LeavesEverythingElseAlone)
{
    EXPECT_EQ(XmlEscape(""), "");
    // Korean stays as its UTF-8 bytes, not character references; control characters pass.
    EXPECT_EQ(XmlEscape("영화 \t\x01 ok"), "영화 \t\x01 ok");
}

TEST(PlistAnswer, FrameHasNoWhitespaceAndResultMessageFirst)
{
    std::string document
        = PlistDocument(PlistAnswer(0).Add("fileurl", "http://h:1/xml/a&b.tmp").Body());
    EXPECT_EQ(document,
        kHead
            + "<key>result</key><string>0</string><key>message</key><string></string>"
              "<key>fileurl</key><string>http://h:1/xml/a&amp;b.tmp</string>"
            + kTail);
}

TEST(PlistAnswer, PlainSuccessAndSuccessWithDatum)
{
    EXPECT_EQ(MakeSuccessAnswer(),
        kHead + "<key>result</key><string>0</string><key>message</key><string></string>" + kTail);
    EXPECT_EQ(MakeSuccessAnswer("http://10.0.0.2:47002/list/ID/files.m3u8"),
        kHead
            + "<key>result</key><string>0</string><key>message</key>"
              "<string>http://10.0.0.2:47002/list/ID/files.m3u8</string>"
            + kTail);
}

TEST(PlistAnswer, NumbersAreDecimalStrings)
{
    EXPECT_EQ(PlistDict().Add("size", -1234567890123LL).Body(),
        "<key>size</key><string>-1234567890123</string>");
}

TEST(PlistAnswer, EveryErrorCodeHasItsFrameWithTheEscapedText)
{
    const std::pair<int, const char*> codes[] = {
        { kResultFailedCreateId, kTextFailedCreateId },
        { kResultFailedInput, kTextFailedInput },
        { kResultNotExist, kTextNotExistFolder },
        { kResultNotExist, kTextNotExistFile },
        { kResultFailedId, kTextFailedId },
        { kResultDuplicateName, kTextDuplicateName },
        { kResultFullUser, kTextFullUser },
        { kResultFailedUnknown, kTextFailedUnknown },
    };
    const TextTable texts(GetResourceFolder());
    for (const auto& [code, key] : codes) {
        std::string text = texts.Lookup(key);
        EXPECT_NE(text, key) << key;
        EXPECT_EQ(MakeErrorAnswer(texts, code, key),
            kHead + "<key>result</key><string>" + std::to_string(code)
                + "</string><key>message</key><string>" + XmlEscape(text) + "</string>" + kTail)
            << key;
    }
    // Code -12 carries the folder text for a listing and the file text for one file.
    EXPECT_NE(MakeErrorAnswer(texts, kResultNotExist, kTextNotExistFolder),
        MakeErrorAnswer(texts, kResultNotExist, kTextNotExistFile));
}

TEST(PlistAnswer, ACodeWithoutAFrameGivesAnEmptyDocument)
{
    const TextTable texts(GetResourceFolder());
    EXPECT_EQ(MakeErrorAnswer(texts, -1, kTextFailedInput), "");
    EXPECT_EQ(MakeErrorAnswer(texts, -13, kTextFailedInput), "");
    EXPECT_EQ(MakeErrorAnswer(texts, 0, kTextFailedInput), "");
}

TEST(PlistAnswer, AMissingLanguageKeyIsAnsweredWithTheKeyEscaped)
{
    const TextTable texts(GetResourceFolder());
    std::string document = MakeErrorAnswer(texts, kResultFailedUnknown, "IDS_NO_SUCH_<KEY>");
    EXPECT_NE(document.find("<string>IDS_NO_SUCH_&lt;KEY&gt;</string>"), std::string::npos)
        << document;
}

TEST(PlistAnswer, TextsThatAreNotUtf8KeepTheDocumentReadable)
{
    std::string body = PlistDict().Add("name", "caf\xE9 & co").Body();
    EXPECT_EQ(body, "<key>name</key><string>caf\xEF\xBF\xBD &amp; co</string>");
}
