// Tree stream, containers and end tags: round trips, and untrusted bytes
// refused with their codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signature/Container.h"
#include "signature/EndTag.h"
#include "signature/NodeIds.h"
#include "signature/TreeStream.h"

using namespace zsig;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// A tree with every value type, arrays, nested children and siblings.
Node SampleTree() {
    Node root(kEmptyNode);
    const uint32_t types[] = {0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                              0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12};
    uint32_t serial = 1;
    for (uint32_t t : types) {
        bool valid;
        std::vector<uint8_t> v(FixedValueSize(t, valid));
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = uint8_t(t * 16 + i);
        root.children.emplace_back((t << 24) | 0x00300000 | serial++, v);
    }
    root.children.emplace_back(0x0A300100, U32Bytes(1));
    root.children.emplace_back(0x28300101, Bytes("narrow text"));
    root.children.emplace_back(0x29300102, Bytes(std::string("w\0i\0", 4)));
    Node nullText(0x28300103);
    nullText.hasValue = true;
    nullText.value.null = true;
    root.children.push_back(nullText);
    Node bools(0x4A300104);
    bools.hasValue = true;
    for (int i = 0; i < 11; ++i)
        bools.items.push_back(Value{U32Bytes(i % 3 == 0), false});
    root.children.push_back(bools);
    Node words(0x49300105);
    words.hasValue = true;
    for (uint32_t i = 0; i < 5; ++i)
        words.items.push_back(Value{U32Bytes(i * 0x01010101u), false});
    root.children.push_back(words);
    Node texts(0x6A300106);
    texts.hasValue = true;
    texts.items.push_back(Value{Bytes("ab"), false});
    texts.items.push_back(Value{{}, false});
    root.children.push_back(texts);
    Node nested(0x01300107);
    nested.children.emplace_back(0x2A300001, Bytes("leaf one"));
    nested.children.emplace_back(0x2A300002, Bytes("leaf two"));
    nested.children.push_back(Node(0x01300003));
    nested.children.back().children.emplace_back(0x09300001, U32Bytes(7));
    root.children.push_back(nested);
    return root;
}

TEST(TreeStream, RoundTripsEveryTypeAcrossChunkSizes) {
    const Node tree = SampleTree();
    const std::vector<uint8_t> record = EncodeNodeRecord(tree);
    for (uint32_t chunk : {16u, 17u, 100u, kDefaultChunkSize, 0x10000u}) {
        const std::vector<uint8_t> stream = EncodeTreeStream(tree, chunk);
        Node back;
        size_t used = 0;
        ASSERT_EQ(DecodeTreeStream(stream.data(), stream.size(), back, used), kOk) << chunk;
        EXPECT_EQ(used, stream.size());
        EXPECT_EQ(EncodeNodeRecord(back), record) << chunk;
    }
}

TEST(TreeStream, AttributesBecomeChildren) {
    // flags 0, id, one attribute (type 0x09 value 5), end, no children.
    const std::vector<uint8_t> rec = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x30, 0x09,
                                      0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x12};
    Node n;
    size_t used = 0;
    ASSERT_EQ(DecodeNodeRecord(rec.data(), rec.size(), n, used), kOk);
    EXPECT_EQ(used, rec.size());
    uint32_t v = 0;
    ASSERT_TRUE(n.GetU32(0x09300001, v));
    EXPECT_EQ(v, 5u);
}

TEST(TreeStream, EveryTruncationAndEveryFlippedByteIsRefused) {
    const std::vector<uint8_t> stream = EncodeTreeStream(SampleTree(), 64);
    for (size_t n = 0; n < stream.size(); ++n) {
        Node out;
        size_t used;
        EXPECT_NE(DecodeTreeStream(stream.data(), n, out, used), kOk) << "length " << n;
    }
    for (size_t pos = 0; pos < stream.size(); ++pos) {
        std::vector<uint8_t> bad = stream;
        bad[pos] ^= 0x10;
        Node out;
        size_t used;
        EXPECT_NE(DecodeTreeStream(bad.data(), bad.size(), out, used), kOk) << "byte " << pos;
    }
}

TEST(TreeStream, LimitsAndInvalidRecordsAreRefused) {
    // Nesting deeper than the limit through first children.
    Node deep(kEmptyNode);
    Node* at = &deep;
    for (int i = 0; i <= kMaxTreeDepth + 1; ++i) {
        at->children.push_back(Node(kEmptyNode | 1));
        at = &at->children.back();
    }
    const auto deepBytes = EncodeNodeRecord(deep);
    Node out;
    size_t used;
    EXPECT_EQ(DecodeNodeRecord(deepBytes.data(), deepBytes.size(), out, used), kContainerNoData);

    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Row rows[] = {
        {"reserved flag bits", {0x08, 1, 0, 0, 1, 1, 0, 0, 9}},
        {"invalid value type", {0x01, 1, 0, 0, 0x13, 1, 0, 0, 9}},
        {"array of type 0", {0x01, 1, 0, 0, 0x40, 1, 0, 0, 9}},
        {"odd wide text", {0x01, 1, 0, 0, 0x29, 3, 0, 'a', 'b', 'c', 1, 0, 0, 9}},
        {"text longer than the input", {0x01, 1, 0, 0, 0x2A, 0xFF, 0x7F, 'a'}},
        {"array longer than the input", {0x01, 1, 0, 0, 0x4D, 0xFF, 0xFF, 1, 0, 1, 2, 3}},
        {"no attribute end", {0x00, 1, 0, 0, 1}},
        {"siblings without end", {0x02, 1, 0, 0, 1, 1, 0, 0, 9, 0x04, 2, 0, 0, 1, 1, 0, 0, 9}},
        {"root with siblings", {0x04, 1, 0, 0, 1, 1, 0, 0, 9, 0xFF}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(DecodeNodeRecord(r.bytes.data(), r.bytes.size(), out, used), kContainerNoData)
            << r.name;
    }
}

TEST(Container, HeaderAndBlockErrorsHaveTheirCodes) {
    const std::vector<uint8_t> good = WriteContainer(SampleTree(), 0x123);
    Node out;
    ContainerHeader header;
    ASSERT_EQ(ReadContainer(good.data(), good.size(), 0x123u, out, &header), kOk);
    EXPECT_EQ(header.id, 0x123u);
    uint32_t id = 0;
    EXPECT_TRUE(out.GetU32(kIdRegistryId, id));
    EXPECT_EQ(id, 0x123u);

    struct Row {
        const char* name;
        size_t offset;
        uint8_t value;
        Result expected;
    };
    const Row rows[] = {
        {"container magic", 0, 'X', kContainerBadMagic},
        {"container version 2", 4, 2, kContainerBadVersion},
        {"container version 0", 4, 0, kContainerBadVersion},
        {"block magic", 8, 'X', kContainerBadMagic},
        {"block type 1 (packed)", 12, 1, kContainerBadVersion},
        {"block type 2 (packed)", 12, 2, kContainerBadVersion},
        {"stream marker", 14, 0xAC, kContainerBadMagic},
        {"stream version", 16, 2, kContainerBadVersion},
        {"chunk size too large", 23, 1, kContainerNoData},
        {"record flags (CRC)", 24, 0x05, kContainerNoData},
    };
    for (const Row& r : rows) {
        std::vector<uint8_t> bad = good;
        bad[r.offset] = r.value;
        EXPECT_EQ(ReadContainer(bad.data(), bad.size(), std::nullopt, out), r.expected) << r.name;
    }
    EXPECT_EQ(ReadContainer(good.data(), good.size(), 0x124u, out), kContainerWrongId);
    EXPECT_EQ(ReadContainer(good.data(), 7, std::nullopt, out), kContainerNoData);
    EXPECT_EQ(ReadContainer(good.data(), 8, std::nullopt, out), kContainerNoData);
    EXPECT_EQ(ReadContainer(nullptr, 0, std::nullopt, out), kContainerNoData);
    // Block type 3 reads like type 0; trailing bytes that are no block are refused.
    std::vector<uint8_t> type3 = good;
    type3[12] = 3;
    EXPECT_EQ(ReadContainer(type3.data(), type3.size(), std::nullopt, out), kOk);
    std::vector<uint8_t> trailing = good;
    trailing.push_back(0);
    EXPECT_NE(ReadContainer(trailing.data(), trailing.size(), std::nullopt, out), kOk);
}

TEST(Container, SeveralBlocksBecomeChildren) {
    std::vector<uint8_t> two = WriteContainer(Node(kEmptyNode | 1), 5);
    const std::vector<uint8_t> second = WriteContainer(Node(kEmptyNode | 2), 5);
    two.insert(two.end(), second.begin() + kContainerHeaderSize, second.end());
    Node out;
    ASSERT_EQ(ReadContainer(two.data(), two.size(), 5u, out), kOk);
    EXPECT_EQ(out.id, kEmptyNode | 1);
    EXPECT_NE(out.Find(kEmptyNode | 2), nullptr);
}

TEST(EndTag, RoundTripsAndTellsAbsentFromMalformed) {
    EndTag tag;
    tag.keyNumber = 3;
    for (int i = 0; i < 64; ++i)
        tag.signature[i] = uint8_t(i * 7);
    std::string content = "payload" + MakeEndTag(tag);
    ASSERT_EQ(MakeEndTag(tag).size(), kEndTagSize);
    auto scan = [](const std::string& s, EndTag& t) {
        return FindEndTag(reinterpret_cast<const uint8_t*>(s.data()), s.size(), t);
    };
    EndTag back;
    ASSERT_EQ(scan(content, back), TagScan::kFound);
    EXPECT_EQ(back.keyNumber, 3);
    EXPECT_EQ(std::string(back.signature, back.signature + 64),
              std::string(tag.signature, tag.signature + 64));
    EXPECT_EQ(scan("short%%", back), TagScan::kAbsent);
    EXPECT_EQ(scan(std::string(200, 'x'), back), TagScan::kAbsent);
    std::string badChar = content, badStart = content, badVersion = content;
    badChar[content.size() - 10] = '*';
    badStart[content.size() - 93] = 'X';
    // Version byte 2: the first Base64 character pair encodes it.
    EndTag v2 = tag;
    badVersion = "payload" + MakeEndTag(v2);
    badVersion[content.size() - 90] = 'A';
    badVersion[content.size() - 89] = 'g';
    EXPECT_EQ(scan(badChar, back), TagScan::kMalformed);
    EXPECT_EQ(scan(badStart, back), TagScan::kMalformed);
    EXPECT_EQ(scan(badVersion, back), TagScan::kMalformed);
}

} // namespace
