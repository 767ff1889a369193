// The library's operations over a fresh key set: registry preparation,
// object checks by end tag and by digest registry, statuses and parameters.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "signature/Container.h"
#include "signature/Gostr3411.h"
#include "signature/NodeIds.h"
#include "signature/Registry.h"
#include "signature/ZsigLibrary.h"
#include "tools/zsign/ZsignCommands.h"

using namespace zsig;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

class LibraryTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zsig-keys-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        std::string error;
        ASSERT_TRUE(zsign::KeyGen(m_dir, error)) << error;
        ASSERT_TRUE(zsign::ReadFile(m_dir + "/root.ctr", m_root));
        ASSERT_TRUE(zsign::ReadFile(m_dir + "/al.pbv", m_al));
        ASSERT_TRUE(zsign::ReadFile(m_dir + "/oper.pbv", m_oper));
        ASSERT_TRUE(zsign::LoadPrivateKey(m_dir + "/sign.prv", m_signKey));
        m_ctx = ZSIG_Init(std::malloc, std::free, 0, 1);
        ASSERT_NE(m_ctx, nullptr);
        ASSERT_EQ(ZSIG_SetRootContainer(m_ctx, m_root.data(), m_root.size()), kOk);
        ASSERT_EQ(ZSIG_ParList_Create(&m_regs), kOk);
        ASSERT_EQ(ZSIG_ParList_Create(&m_objs), kOk);
    }
    void TearDown() override {
        ZSIG_ParList_Release(m_objs);
        ZSIG_ParList_Release(m_regs);
        ZSIG_Shutdown(m_ctx, true);
        std::filesystem::remove_all(m_dir);
    }

    ItemHandle AddRegistry(const std::vector<uint8_t>& bytes) {
        return ZSIG_ParList_AddRegistryImage(m_regs, bytes.data(), uint32_t(bytes.size()), nullptr,
                                             nullptr);
    }
    ItemHandle AddObject(const std::vector<uint8_t>& bytes) {
        return ZSIG_ParList_AddObjectImage(m_objs, bytes.data(), uint32_t(bytes.size()), nullptr,
                                           nullptr);
    }
    Result Prepare() {
        AddRegistry(m_al);
        AddRegistry(m_oper);
        return ZSIG_PrepareRegsSet(m_ctx, m_regs, 0);
    }
    std::vector<uint8_t> Signed(const std::string& text) {
        std::vector<uint8_t> bytes = Bytes(text);
        const std::string tag = MakeEndTag(zsign::SignContent(bytes, m_signKey));
        bytes.insert(bytes.end(), tag.begin(), tag.end());
        return bytes;
    }
    uint32_t Param(ParList* list, ItemHandle item, uint32_t number) {
        uint32_t v = 0, size = sizeof v;
        EXPECT_EQ(ZSIG_ParList_GetParam(list, item, number, &v, &size), kOk);
        return v;
    }

    std::string m_dir;
    std::vector<uint8_t> m_root, m_al, m_oper;
    zsign::PrivateKey m_signKey;
    Context* m_ctx = nullptr;
    ParList* m_regs = nullptr;
    ParList* m_objs = nullptr;
};

TEST_F(LibraryTest, AcceptsSignedObjectsAndNamesTheRefusedOnes) {
    ASSERT_EQ(Prepare(), kOk);
    const auto good = Signed("first file"), good2 = Signed("second file");
    auto bad = Signed("third file");
    bad[2] ^= 1;
    const ItemHandle g = AddObject(good), b = AddObject(bad), g2 = AddObject(good2);
    ASSERT_TRUE(g && b && g2);
    EXPECT_EQ(ZSIG_CheckObjects(m_ctx, m_objs, 0), kConsistencyCheckFailed);
    EXPECT_EQ(ZSIG_ParList_LastResult(m_objs), kConsistencyCheckFailed);
    EXPECT_EQ(Param(m_objs, g, kParamAcceptedBy), 2u);
    Result status = 0;
    EXPECT_EQ(ZSIG_ParList_FirstFailed(m_objs, &status), b);
    EXPECT_EQ(status, kConsistencyCheckFailed);
    EXPECT_EQ(ZSIG_ParList_NextFailed(m_objs, b, &status), 0);
    EXPECT_EQ(Param(m_objs, b, kParamStatus), kConsistencyCheckFailed);
}

TEST_F(LibraryTest, EveryFlippedByteOfASignedObjectIsRefused) {
    ASSERT_EQ(Prepare(), kOk);
    const auto good = Signed("a short signed object");
    for (size_t pos = 0; pos < good.size(); ++pos) {
        auto bad = good;
        bad[pos] ^= 0x04; // keeps Base64 characters Base64 more often than not
        ParList* list = nullptr;
        ASSERT_EQ(ZSIG_ParList_Create(&list), kOk);
        ZSIG_ParList_AddObjectImage(list, bad.data(), uint32_t(bad.size()), nullptr, nullptr);
        EXPECT_EQ(ZSIG_CheckObjects(m_ctx, list, 0), kConsistencyCheckFailed) << "byte " << pos;
        ZSIG_ParList_Release(list);
    }
}

TEST_F(LibraryTest, ObjectStatusesTellWhy) {
    ASSERT_EQ(Prepare(), kOk);
    zsign::PrivateKey unknown = m_signKey;
    unknown.number = 9;
    std::vector<uint8_t> unknownKey = Bytes("signed by key 9");
    const std::string tag = MakeEndTag(zsign::SignContent(unknownKey, unknown));
    unknownKey.insert(unknownKey.end(), tag.begin(), tag.end());
    std::vector<uint8_t> malformed = Signed("malformed tag");
    malformed[malformed.size() - 40] = '#';
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        Result status;
    };
    const Row rows[] = {
        {"no tag", Bytes("no tag at all"), kNoSignatureOrRegistry},
        {"unknown key number", unknownKey, kSigningKeyNotFound},
        {"malformed tag", malformed, kSignatureNotEvaluable},
    };
    for (const Row& r : rows) {
        ParList* list = nullptr;
        ASSERT_EQ(ZSIG_ParList_Create(&list), kOk);
        const ItemHandle h = ZSIG_ParList_AddObjectImage(
            list, r.bytes.data(), uint32_t(r.bytes.size()), nullptr, nullptr);
        EXPECT_EQ(ZSIG_CheckObjects(m_ctx, list, 0), kConsistencyCheckFailed) << r.name;
        uint32_t v = 0, size = 4;
        EXPECT_EQ(ZSIG_ParList_GetParam(list, h, kParamStatus, &v, &size), kOk);
        EXPECT_EQ(v, r.status) << r.name;
        ZSIG_ParList_Release(list);
    }
}

TEST_F(LibraryTest, RegistryPreparationFailures) {
    // A key registry without the root registry that lists its signer.
    ParList* onlyKeys = nullptr;
    ASSERT_EQ(ZSIG_ParList_Create(&onlyKeys), kOk);
    ZSIG_ParList_AddRegistryImage(onlyKeys, m_oper.data(), uint32_t(m_oper.size()), nullptr,
                                  nullptr);
    EXPECT_EQ(ZSIG_PrepareRegsSet(m_ctx, onlyKeys, 0), kSigningKeyNotFound);
    ZSIG_ParList_Release(onlyKeys);
    // Then only a root registry: no key registry is accepted.
    AddRegistry(m_al);
    EXPECT_EQ(ZSIG_PrepareRegsSet(m_ctx, m_regs, 0), kNoRegistryAccepted);
    // An empty list.
    ParList* empty = nullptr;
    ASSERT_EQ(ZSIG_ParList_Create(&empty), kOk);
    EXPECT_EQ(ZSIG_PrepareRegsSet(m_ctx, empty, 0), kNotFound);
    ZSIG_ParList_Release(empty);
}

TEST_F(LibraryTest, RegistriesFromAnotherRootAreRefused) {
    Context* other = ZSIG_Init(std::malloc, std::free, 0, 1); // the built-in development root
    ASSERT_NE(other, nullptr);
    AddRegistry(m_al);
    AddRegistry(m_oper);
    EXPECT_EQ(ZSIG_PrepareRegsSet(other, m_regs, 0), kConsistencyCheckFailed);
    ZSIG_Shutdown(other, false);
}

TEST_F(LibraryTest, DigestRegistriesAcceptListedObjects) {
    const std::vector<uint8_t> listed = Bytes("listed file"), other = Bytes("other file");
    Digest d;
    Gostr3411::Digest(listed.data(), listed.size(), d.data());
    const auto reg = zsign::SignedContainer(MakeDigestTree({Digest{}, d}), 0x100, m_signKey);
    AddRegistry(reg);
    ASSERT_EQ(Prepare(), kOk);
    const ItemHandle a = AddObject(listed), b = AddObject(other);
    EXPECT_EQ(ZSIG_CheckObjects(m_ctx, m_objs, 0), kConsistencyCheckFailed);
    EXPECT_EQ(Param(m_objs, a, kParamAcceptedBy), 1u);
    EXPECT_EQ(Param(m_objs, b, kParamStatus), kConsistencyCheckFailed);

    // Positions: 2 matches, 1 does not, 3 is beyond the registry.
    struct Row {
        uint32_t position;
        Result status;
    };
    for (const Row& r :
         {Row{2, kOk}, Row{1, kConsistencyCheckFailed}, Row{3, kDigestPositionBeyondRegistry}}) {
        ParList* list = nullptr;
        ASSERT_EQ(ZSIG_ParList_Create(&list), kOk);
        const ItemHandle h = ZSIG_ParList_AddObjectImage(list, listed.data(),
                                                         uint32_t(listed.size()), nullptr, nullptr);
        ASSERT_EQ(ZSIG_ParList_SetParam(list, h, kParamDigestIndex, &r.position, 4), kOk);
        ZSIG_CheckObjects(m_ctx, list, 0);
        uint32_t v = 0, size = 4;
        const Result got = ZSIG_ParList_GetParam(list, h, kParamStatus, &v, &size);
        EXPECT_EQ(got == kParameterAbsent ? kOk : v, r.status) << "position " << r.position;
        ZSIG_ParList_Release(list);
    }
}

struct ReaderState {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    int closes = 0;
    bool fail = false;
};
int32_t Reader(void* context, void* buffer, uint32_t size, uint32_t mode) {
    auto* s = static_cast<ReaderState*>(context);
    if (mode == 1)
        s->pos = 0;
    if (mode == 4)
        ++s->closes;
    if (mode != 2)
        return 0;
    if (s->fail)
        return -1;
    const size_t n = std::min<size_t>(size, s->bytes.size() - s->pos);
    std::memcpy(buffer, s->bytes.data() + s->pos, n);
    s->pos += n;
    return int32_t(n);
}

TEST_F(LibraryTest, ReadsContentThroughAReader) {
    ASSERT_EQ(Prepare(), kOk);
    ReaderState ok{Signed(std::string(100000, 'r')), 0, 0, false};
    ReaderState failing{Signed("x"), 0, 0, true};
    const ItemHandle a = ZSIG_ParList_AddObjectImage(m_objs, nullptr, 0, Reader, &ok);
    const ItemHandle b = ZSIG_ParList_AddObjectImage(m_objs, nullptr, 0, Reader, &failing);
    EXPECT_EQ(ZSIG_CheckObjects(m_ctx, m_objs, 0), kConsistencyCheckFailed);
    EXPECT_EQ(Param(m_objs, a, kParamAcceptedBy), 2u);
    EXPECT_EQ(Param(m_objs, b, kParamStatus), kReaderFailed);
    EXPECT_EQ(ok.closes, 1);
    EXPECT_EQ(failing.closes, 1);
}

TEST_F(LibraryTest, ParametersAndArguments) {
    const auto content = Bytes("content");
    EXPECT_EQ(AddObject({}), 0);
    EXPECT_EQ(ZSIG_ParList_LastResult(m_objs), kInvalidArgument);
    const ItemHandle h = AddObject(content);
    ASSERT_NE(h, 0);
    const char path[] = "C:\\Dir\\File.bin";
    ASSERT_EQ(ZSIG_ParList_SetParam(m_objs, h, kParamFullPath, path, sizeof path), kOk);
    uint32_t size = 0;
    EXPECT_EQ(ZSIG_ParList_GetParam(m_objs, h, kParamFullPath, nullptr, &size), kOk);
    EXPECT_EQ(size, sizeof path);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(ZSIG_ParList_GetParam(m_objs, h, kParamFullPath, small, &size), kBufferTooSmall);
    EXPECT_EQ(size, sizeof path);
    EXPECT_EQ(ZSIG_ParList_GetParam(m_objs, h, 77, nullptr, &size), kParameterAbsent);
    EXPECT_EQ(Param(m_objs, h, kParamContent), content.size());
    EXPECT_EQ(ZSIG_ParList_SetParam(m_objs, h, kParamStatus, path, 4), kInvalidArgument);
    EXPECT_EQ(ZSIG_ParList_SetName(m_objs, h, "file.bin", 9), kOk);
    const ItemHandle r = AddRegistry(m_al);
    EXPECT_EQ(ZSIG_ParList_SetName(m_regs, r, "al.pbv", 7), kParameterAbsent);
    EXPECT_EQ(ZSIG_ParList_GetObject(m_objs, ItemHandle(h ^ 1), nullptr, nullptr), kNotFound);
    size = 2;
    EXPECT_EQ(ZSIG_ParList_GetObject(m_objs, h, small, &size), kBufferTooSmall);
    EXPECT_EQ(size, content.size());
    // A second initialisation must bring the same allocation pair.
    EXPECT_EQ(
        ZSIG_Init([](size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); }, 0, 1),
        nullptr);
}

} // namespace

namespace {

TEST_F(LibraryTest, AListHoldsABoundedNumberOfDistinctItems) {
    const auto content = Bytes("x");
    std::set<ItemHandle> handles;
    for (int i = 0; i < 0x4000; ++i)
        handles.insert(AddObject(content));
    EXPECT_EQ(handles.size(), 0x4000u);
    EXPECT_EQ(handles.count(0), 0u);
    EXPECT_EQ(AddObject(content), 0);
    EXPECT_EQ(ZSIG_ParList_LastResult(m_objs), kNoMemory);
}

} // namespace
