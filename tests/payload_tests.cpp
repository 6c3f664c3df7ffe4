// The payload checksum, the lookup of entries among the resources and the
// start-up check over the table.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "setup/state.h"
#include "test_support.h"

namespace {

uint32_t Sum(const std::string &s)
{
    return PayloadChecksum((const unsigned char *)s.data(), (int32_t)s.size());
}

// The plain definition, byte by byte, to compare the word-at-a-time loop with.
uint32_t ReferenceSum(const std::string &s)
{
    uint32_t sum = 0;
    for (unsigned char c : s)
        sum += (uint32_t)(int32_t)(signed char)c;
    return s.empty() ? 0 : sum + (uint32_t)s.size();
}

class PayloadEnv : public ::testing::Environment {
  public:
    void SetUp() override { g_hInstance = GetModuleHandleA(NULL); }
};
::testing::Environment *const kEnv = ::testing::AddGlobalTestEnvironment(new PayloadEnv);

}  // namespace

TEST(Checksum, DocumentedExamples)
{
    EXPECT_EQ(Sum("abc"), 297u);
    EXPECT_EQ(Sum("\xFF\x80"), 0xFFFFFF81u);
    EXPECT_EQ(Sum(std::string("\xFF", 1)), 0u);   // -1 + 1
    EXPECT_EQ(Sum(""), 0u);
    EXPECT_EQ(PayloadChecksum(nullptr, 0), 0u);
}

TEST(Checksum, NonPositiveLengthComesBackUnchanged)
{
    // the bytes are never read for such a length
    EXPECT_EQ(PayloadChecksum(nullptr, -5), (uint32_t)-5);
    EXPECT_EQ(PayloadChecksum(nullptr, INT32_MIN), 0x80000000u);
}

TEST(Checksum, WrapsModulo2To32)
{
    // 0x7F-bytes push the sum past 2^31; a run of 0x80 bytes pulls it below 0
    std::string up(20000000, '\x7F');
    EXPECT_EQ(Sum(up), 127u * 20000000u + 20000000u);
    std::string down(3000000, '\x80');
    EXPECT_EQ(Sum(down), (uint32_t)(-128 * 3000000 + 3000000));
}

TEST(Checksum, MatchesBytewiseDefinitionForAnyContentAndLength)
{
    // every length around the word and flush boundaries, every byte value,
    // and all four alignments of the start
    std::string buf;
    uint32_t seed = 12345;
    for (int i = 0; i < 5000; i++) {
        seed = seed * 1103515245u + 12345u;
        buf.push_back((char)(seed >> 16));
    }
    for (size_t start = 0; start < 4; start++)
        for (size_t len : {1, 2, 3, 4, 5, 7, 8, 511, 512, 513, 515, 516, 517, 1024, 2047, 4096, 4997}) {
            std::string s = buf.substr(start, len);
            ASSERT_EQ(Sum(s), ReferenceSum(s)) << "start " << start << " length " << len;
        }
    std::string all;
    for (int r = 0; r < 50; r++)
        for (int v = 0; v < 256; v++)
            all.push_back((char)v);
    EXPECT_EQ(Sum(all), ReferenceSum(all));
    std::string high(4096, '\xFF');
    EXPECT_EQ(Sum(high), ReferenceSum(high));
}

TEST(Checksum, SingleChangedByteAlwaysChangesTheSum)
{
    std::string base(1000, '\x11');
    uint32_t orig = Sum(base);
    for (size_t pos : {0, 1, 2, 3, 499, 996, 997, 998, 999})
        for (int v : {0x00, 0x10, 0x12, 0x7F, 0x80, 0xFF}) {
            std::string changed = base;
            changed[pos] = (char)v;
            EXPECT_NE(Sum(changed), orig) << pos << " " << v;
        }
    // what the sum cannot see: swapped bytes and changes that cancel
    std::string swapped = "ab";
    EXPECT_EQ(Sum("ba"), Sum(swapped));
    EXPECT_EQ(Sum("ac"), Sum("bb"));
}

TEST(PayloadLookup, NamesWithSpacesAndAnyCase)
{
    HRSRC plain = FindPayloadResource("myfile.txt");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(FindPayloadResource("my file.txt"), plain);
    EXPECT_EQ(FindPayloadResource(" MY  File.TXT "), plain);
    EXPECT_EQ(FindPayloadResource("MYFILE.TXT"), plain);
    EXPECT_EQ(FindPayloadResource("my_file.txt"), nullptr);
    EXPECT_EQ(FindPayloadResource("missing.bin"), nullptr);
}

TEST(PayloadLookup, OverlongNameIsRefusedNotCut)
{
    // 255 characters after the spaces go is the most a resource name holds;
    // one more must not be looked up as its first 255 characters
    std::string longest(255, 'L');
    EXPECT_NE(FindPayloadResource(longest.c_str()), nullptr);
    EXPECT_NE(FindPayloadResource((std::string(40, ' ') + longest).c_str()), nullptr);
    EXPECT_EQ(FindPayloadResource((longest + "L").c_str()), nullptr);
    EXPECT_EQ(FindPayloadResource((longest + "x.txt").c_str()), nullptr);
}

TEST(PayloadLookup, EntryChecksums)
{
    EXPECT_EQ(ChecksumPayloadEntry("my file.txt"), 297u);
    EXPECT_EQ(ChecksumPayloadEntry("empty.bin"), 0u);
    EXPECT_EQ(ChecksumPayloadEntry("ff80.bin"), 0xFFFFFF81u);
    EXPECT_EQ(ChecksumPayloadEntry("absent.bin"), 0u);
}

TEST(PayloadLookup, BuiltChecksumsMatchTheEmbeddedFiles)
{
    // the build computed g_payloadChecksums over the files it embedded
    for (int i = 0; i < PAYLOAD_COUNT; i++) {
        std::string bytes;
        ASSERT_TRUE(ts::ReadBytes(ts::PayloadFile(g_payloadFiles[i]), &bytes)) << g_payloadFiles[i];
        EXPECT_EQ(g_payloadChecksums[i], Sum(bytes)) << g_payloadFiles[i];
        EXPECT_EQ(ChecksumPayloadEntry(g_payloadFiles[i]), g_payloadChecksums[i]) << g_payloadFiles[i];
    }
    EXPECT_STREQ(g_payloadFiles[0], "vxmain.vdf");
    EXPECT_STREQ(g_payloadFiles[1], "vxsky_readme.txt");
}

namespace {

// A name that faults when read: proves an entry is never looked at.
const char *UnreadableName()
{
    static char *page = (char *)VirtualAlloc(NULL, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    return page;
}

}  // namespace

TEST(VerifyPayload, AcceptsMatchingTable)
{
    EXPECT_EQ(VerifyPayload(g_payloadFiles, g_payloadChecksums, PAYLOAD_COUNT), 1);
    const char *names[] = {"myfile.txt", "empty.bin", "ff80.bin"};
    const uint32_t sums[] = {297u, 0u, 0xFFFFFF81u};
    EXPECT_EQ(VerifyPayload(names, sums, 3), 1);
}

TEST(VerifyPayload, CountOfZeroOrLessAcceptsWithoutLooking)
{
    const char *names[] = {UnreadableName()};
    const uint32_t sums[] = {1};
    EXPECT_EQ(VerifyPayload(names, sums, 0), 1);
    EXPECT_EQ(VerifyPayload(names, sums, -3), 1);
}

TEST(VerifyPayload, StopsAtFirstMismatch)
{
    const char *names[] = {"myfile.txt", UnreadableName()};
    const uint32_t sums[] = {298u, 0u};
    EXPECT_EQ(VerifyPayload(names, sums, 2), 0);
}

TEST(VerifyPayload, MismatchOrMissingEntryAnywhereRefuses)
{
    const char *names[] = {"myfile.txt", "ff80.bin", "absent.bin"};
    const uint32_t good[] = {297u, 0xFFFFFF81u, 0u};
    EXPECT_EQ(VerifyPayload(names, good, 2), 1);
    const uint32_t bad2[] = {297u, 0xFFFFFF80u};
    EXPECT_EQ(VerifyPayload(names, bad2, 2), 0);
    // a missing entry sums to 0, so it fails for any non-zero expectation
    const uint32_t missing[] = {297u, 0xFFFFFF81u, 5u};
    EXPECT_EQ(VerifyPayload(names, missing, 3), 0);
}
