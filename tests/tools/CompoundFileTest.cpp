// The compound-document writer and reader behind the test patch package
// and the Windows Installer stand-in: streams in the mini stream and in
// regular sectors, many directory entries, a signature appended to the
// file, the summary information, and malformed input.
#include <gtest/gtest.h>

#include "tools/patchpack/CompoundFile.h"

using namespace zev::cfb;

namespace {

Bytes Filled(size_t size, std::uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
    return b;
}

} // namespace

TEST(CompoundFile, StreamsOfEverySizeReadBackAfterAnAppendedSignature) {
    const std::vector<Stream> streams = {
        {u"Small", Filled(100, 1)},      {u"Empty", {}},
        {u"AtCutoff", Filled(4096, 2)},  {u"JustUnder", Filled(4095, 3)},
        {u"Payload", Filled(600000, 4)}, {kSummaryStreamName, Filled(64, 5)},
    };
    Bytes file = WriteCompoundFile(streams, kPatchPackageClsid);
    ASSERT_EQ(file.size() % 512, 0u);
    file.insert(file.end(), 94, 0xAB); // the signature tag at the end
    for (const Stream& s : streams) {
        SCOPED_TRACE(std::string(s.name.begin(), s.name.end()));
        Bytes out{0xFF};
        ASSERT_TRUE(ReadRootStream(file, s.name, out));
        EXPECT_EQ(out, s.data);
    }
    Bytes untouched{1, 2, 3};
    EXPECT_FALSE(ReadRootStream(file, u"Missing", untouched));
    EXPECT_EQ(untouched, (Bytes{1, 2, 3}));
}

TEST(CompoundFile, ManyEntriesAreFoundThroughTheSiblingTree) {
    std::vector<Stream> streams;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "S" + std::to_string(i * 37 % 101);
        streams.push_back({std::u16string(name.begin(), name.end()), Filled(10 + i, i)});
    }
    const Bytes file = WriteCompoundFile(streams, kPatchPackageClsid);
    for (const Stream& s : streams) {
        Bytes out;
        ASSERT_TRUE(ReadRootStream(file, s.name, out));
        EXPECT_EQ(out, s.data);
    }
    // Names compare without regard to case, as the format says.
    Bytes out;
    EXPECT_TRUE(ReadRootStream(file, u"s0", out));
    EXPECT_THROW(WriteCompoundFile({{u"a", {}}, {u"A", {}}}, kPatchPackageClsid),
                 std::invalid_argument);
}

TEST(CompoundFile, MalformedDocumentsAreRefused) {
    const Bytes good =
        WriteCompoundFile({{u"Payload", Filled(20000, 9)}, {u"Small", Filled(10, 1)}}, {});
    auto with = [&](size_t at, std::uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    const struct {
        const char* what;
        Bytes file;
    } rows[] = {
        {"empty", {}},
        {"header only", Bytes(good.begin(), good.begin() + 512)},
        {"cut in the payload", Bytes(good.begin(), good.begin() + 512 * 20)},
        {"bad signature", with(0, 0)},
        {"bad byte order", with(28, 0)},
        {"bad sector shift", with(30, 10)},
        {"FAT sector out of range", with(76 + 1, 0x7F)},
        {"looping chain",
         [&] {
             // The payload's first sector points back at itself. Sectors:
             // FAT, directory, mini FAT, mini stream, then the payload.
             Bytes b = good;
             const size_t fatAt = 512, payloadFirst = 4;
             for (int k = 0; k < 4; ++k)
                 b[fatAt + 4 * payloadFirst + k] = k == 0 ? payloadFirst : 0;
             return b;
         }()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes out;
        EXPECT_FALSE(ReadRootStream(row.file, u"Payload", out));
    }
}

TEST(SummaryInfo, RoundTripsTextIntegersAndCodePage) {
    SummaryInfo info;
    info.codepage = 1252;
    info.strings[kPidRevision] = "{FA7AA09B-8B56-4571-B835-5E2FF8BAE62A}{00000000-0000-0000}";
    info.strings[kPidTemplate] = "";
    info.strings[kPidTitle] = "abc"; // exactly four bytes with its NUL
    info.integers[kPidPageCount] = 300;
    info.integers[kPidSecurity] = -4;
    SummaryInfo back;
    ASSERT_TRUE(DecodeSummaryInfo(EncodeSummaryInfo(info), back));
    EXPECT_EQ(back.strings, info.strings);
    EXPECT_EQ(back.integers, info.integers);
    EXPECT_EQ(back.codepage, 1252);

    Bytes cut = EncodeSummaryInfo(info);
    cut.resize(cut.size() - 20);
    SummaryInfo partial;
    EXPECT_FALSE(DecodeSummaryInfo(cut, partial));
}
