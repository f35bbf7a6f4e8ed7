#include "config/xml_node.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    XmlNode node;
    XmlParseInfo info;
    std::optional<size_t> end;
};

std::unique_ptr<Parsed> Parse(std::string_view text, XmlNodeType type = XmlNodeType::Element)
{
    auto parsed = std::make_unique<Parsed>();
    parsed->node.type = type;
    if (type == XmlNodeType::Document)
        parsed->node.document = &parsed->node;
    parsed->end = parsed->node.Load(text, parsed->info);
    return parsed;
}

TEST(XmlReader, EntitiesAreDecodedOnLoadAndEncodedOnText)
{
    auto p = Parse("<a>1 &amp; 2 &lt;&gt;&quot;&apos; &foo; &AMP;</a>");
    ASSERT_TRUE(p->end);
    EXPECT_FALSE(p->info.errorOccurred);
    EXPECT_EQ(p->node.name, "a");
    EXPECT_EQ(p->node.value, "1 & 2 <>\"' &foo; &AMP;");
    EXPECT_EQ(p->node.GetText(), "1 &amp; 2 &lt;&gt;&quot;&apos; &amp;foo; &amp;AMP;");
    XmlTextOptions plain;
    plain.encodeEntities = false;
    EXPECT_EQ(p->node.GetText(plain), p->node.value);
}

TEST(XmlReader, EmptyElementWithUnquotedAndQuotedAttributes)
{
    std::string text = "<a x=1 y='2'/>rest";
    auto p = Parse(text);
    ASSERT_TRUE(p->end);
    EXPECT_EQ(*p->end, text.find("rest"));
    ASSERT_EQ(p->node.attributes.size(), 2u);
    EXPECT_EQ(p->node.attributes[0]->name, "x");
    EXPECT_EQ(p->node.attributes[0]->value, "1");
    EXPECT_EQ(p->node.attributes[1]->name, "y");
    EXPECT_EQ(p->node.attributes[1]->value, "2");
    EXPECT_EQ(p->node.attributes[1]->owner, &p->node);
    EXPECT_TRUE(p->node.children.empty());
}

TEST(XmlReader, AttributeEscapesAndValuelessAttributes)
{
    auto p = Parse(R"(<a v="x\yz" q="say \"hi\"" flag w = "&lt;b&gt;"></a>)");
    ASSERT_TRUE(p->end);
    ASSERT_EQ(p->node.attributes.size(), 4u);
    EXPECT_EQ(p->node.attributes[0]->value, "xyz");
    EXPECT_EQ(p->node.attributes[1]->value, "say \"hi\"");
    EXPECT_EQ(p->node.attributes[2]->name, "flag");
    EXPECT_EQ(p->node.attributes[2]->value, "");
    EXPECT_EQ(p->node.attributes[3]->value, "<b>");
}

TEST(XmlReader, WronglyNestedEndTagIsErrorThree)
{
    auto p = Parse("<a><b></a>");
    EXPECT_FALSE(p->end);
    EXPECT_TRUE(p->info.errorOccurred);
    EXPECT_EQ(p->info.errorCode, kXmlErrorNesting);
    EXPECT_EQ(p->info.errorText, "'<b> ... </a>' is not wel-formed.");
    EXPECT_EQ(p->info.errorPosition, 6u);
}

TEST(XmlReader, TextEndingAfterAnAttributeNameIsErrorFour)
{
    auto p = Parse("<a href");
    EXPECT_FALSE(p->end);
    EXPECT_EQ(p->info.errorCode, kXmlErrorAttribute);
    EXPECT_EQ(p->info.errorText, "<a> attribute has error ");
    auto quote = Parse("<a x=\"never closed>");
    EXPECT_EQ(quote->info.errorCode, kXmlErrorAttribute);
}

TEST(XmlReader, TextNeverFollowedByATagIsErrorTwo)
{
    auto p = Parse("<a>some text");
    EXPECT_FALSE(p->end);
    EXPECT_EQ(p->info.errorCode, kXmlErrorNoEndTag);
    EXPECT_EQ(p->info.errorText, "a must be closed with </a>");
    auto endTag = Parse("<a><b/></a");
    EXPECT_EQ(endTag->info.errorCode, kXmlErrorNoEndTag);
    EXPECT_EQ(endTag->info.errorText, "it must be closed with </a>");
    auto unclosed = Parse("<a><b/>");
    EXPECT_FALSE(unclosed->end);
    EXPECT_EQ(unclosed->info.errorCode, kXmlErrorNoEndTag);
}

TEST(XmlReader, SlashWithoutBracketIsErrorOne)
{
    auto p = Parse("<a/ >");
    EXPECT_FALSE(p->end);
    EXPECT_EQ(p->info.errorCode, kXmlErrorNotClosed);
    EXPECT_EQ(p->info.errorText, "Element must be closed.");
}

TEST(XmlReader, OnlyTheFirstErrorIsRecorded)
{
    XmlParseInfo info;
    XmlNode first;
    EXPECT_FALSE(first.Load("<a><b></a>", info));
    XmlNode second;
    EXPECT_FALSE(second.Load("<c x", info));
    EXPECT_EQ(info.errorCode, kXmlErrorNesting);
    EXPECT_EQ(info.errorText, "'<b> ... </a>' is not wel-formed.");
}

TEST(XmlReader, CommentBeforeTheRootBelongsToTheDocument)
{
    auto p = Parse("<?xml version=\"1.0\"?>\n<!-- made by hand --><root><x>1</x></root>",
        XmlNodeType::Document);
    ASSERT_TRUE(p->end);
    ASSERT_EQ(p->node.children.size(), 3u);
    EXPECT_EQ(p->node.children[0]->type, XmlNodeType::ProcessingInstruction);
    EXPECT_EQ(p->node.children[0]->name, "xml");
    ASSERT_EQ(p->node.children[0]->attributes.size(), 1u);
    EXPECT_EQ(p->node.children[0]->attributes[0]->value, "1.0");
    EXPECT_EQ(p->node.children[1]->name, "#COMMENT");
    EXPECT_EQ(p->node.children[1]->value, " made by hand ");
    EXPECT_EQ(p->node.children[2]->name, "root");
    EXPECT_EQ(p->node.GetText(), "1");
}

TEST(XmlReader, CommentsAndCharacterDataInsideAnElementAreChildren)
{
    auto p = Parse("<a><!--c--><b>x</b><![CDATA[<raw> & ]]><c/></a>");
    ASSERT_TRUE(p->end);
    ASSERT_EQ(p->node.children.size(), 4u);
    EXPECT_EQ(p->node.children[0]->type, XmlNodeType::Comment);
    EXPECT_EQ(p->node.children[1]->name, "b");
    EXPECT_EQ(p->node.children[2]->name, "#CDATA");
    EXPECT_EQ(p->node.children[2]->value, "<raw> & ");
    EXPECT_EQ(p->node.children[3]->name, "c");
    EXPECT_EQ(p->node.GetText(), "x&lt;raw&gt; &amp; ");
}

TEST(XmlReader, TextAfterAChildBecomesTheValueWhenStillBlank)
{
    auto p = Parse("<a>\n  <b/>tail<c/>more</a>");
    ASSERT_TRUE(p->end);
    EXPECT_EQ(p->node.value, "tail");
    EXPECT_EQ(p->node.children.size(), 2u);
}

TEST(XmlReader, PlistAnswerWithDoctypeStillYieldsItsDict)
{
    std::string answer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE plist PUBLIC "
                         "\"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"><plist "
                         "version=\"1.0\"><dict><key>result</key><string>0</string><key>message</"
                         "key><string>203.0.113.7</string></dict></plist>";
    auto p = Parse(answer);
    const XmlNode* dict = p->node.FindDict();
    ASSERT_NE(dict, nullptr);
    ASSERT_EQ(dict->children.size(), 4u);
    EXPECT_EQ(dict->children[0]->GetText(), "result");
    EXPECT_EQ(dict->children[1]->GetText(), "0");
    EXPECT_EQ(dict->children[3]->GetText(), "203.0.113.7");
    EXPECT_TRUE(p->info.errorOccurred) << "the declaration is read as an element of its own";
}

TEST(XmlReader, ForceParsePassesOverAStrayEndTag)
{
    XmlParseInfo info;
    info.forceParse = true;
    XmlNode node;
    auto end = node.Load("<a><b>1</b></x><c>2</c></a>", info);
    ASSERT_TRUE(end);
    EXPECT_EQ(node.children.size(), 2u);
    EXPECT_EQ(node.GetText(), "12");
}

TEST(XmlReader, TrimmingIsAnOption)
{
    XmlParseInfo info;
    info.trimValue = true;
    XmlNode node;
    ASSERT_TRUE(node.Load("<a k=' v '>  text  </a>", info));
    EXPECT_EQ(node.value, "text");
    EXPECT_EQ(node.attributes[0]->value, "v");
}

TEST(XmlReader, NoElementAndEndTagFirst)
{
    auto none = Parse("just text");
    EXPECT_FALSE(none->end);
    EXPECT_FALSE(none->info.errorOccurred);
    auto endFirst = Parse("  </a><b/>");
    ASSERT_TRUE(endFirst->end);
    EXPECT_EQ(*endFirst->end, 2u);
    EXPECT_TRUE(endFirst->node.name.empty());
}

TEST(XmlReader, HostileDepthIsRefusedWithoutCrashing)
{
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    auto p = Parse(deep);
    EXPECT_FALSE(p->end);
    EXPECT_EQ(p->info.errorCode, kXmlErrorTooDeep);
}

TEST(XmlReader, ReloadingClearsTheNode)
{
    XmlParseInfo info;
    XmlNode node;
    ASSERT_TRUE(node.Load("<a x='1'><b/></a>", info));
    ASSERT_TRUE(node.Load("<c/>", info));
    EXPECT_EQ(node.name, "c");
    EXPECT_TRUE(node.children.empty());
    EXPECT_TRUE(node.attributes.empty());
}

} // namespace
