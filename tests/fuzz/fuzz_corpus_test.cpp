// Every input kept in the fuzzers' corpora (the seeds and whatever a run found worth
// keeping) replayed through its target in the normal suite: an input that once broke
// a parser keeps proving it no longer does.

#include "fuzz_targets.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Target = int (*)(const uint8_t*, size_t);

size_t ReplayCorpus(const std::string& name, Target target)
{
    const std::filesystem::path folder = std::filesystem::path(VEMBA_FUZZ_CORPUS) / name;
    size_t replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
        ++replayed;
    }
    return replayed;
}

} // namespace

TEST(FuzzCorpus, RequestPaths)
{
    EXPECT_GT(ReplayCorpus("request_path", FuzzRequestPath), 0u);
}

TEST(FuzzCorpus, QueryStrings)
{
    EXPECT_GT(ReplayCorpus("query_string", FuzzQueryString), 0u);
}

TEST(FuzzCorpus, RangeHeaders)
{
    EXPECT_GT(ReplayCorpus("range_header", FuzzRangeHeader), 0u);
}

TEST(FuzzCorpus, PlistWriter)
{
    EXPECT_GT(ReplayCorpus("plist_writer", FuzzPlistWriter), 0u);
}

TEST(FuzzCorpus, XmlReader)
{
    EXPECT_GT(ReplayCorpus("xml_reader", FuzzXmlReader), 0u);
}
