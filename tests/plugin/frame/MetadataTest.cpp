// The module file: a 64-bit DLL carrying the metadata resource (checked
// byte by byte against its own digest and against the export table), the
// version block and the manifest.
#include "common/UniqueHandle.h"
#include "plugin/frame/ExportIds.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/InterfaceTables.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/RegistrationValues.h"
#include "tests/plugin/PluginFixture.h"
#include "tests/support/TempDir.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace zev::frame;

namespace {

constexpr std::size_t kMetadataSize = 623;
constexpr std::size_t kDigestOffset = 607;
constexpr std::size_t kRecordsOffset = 88;
const WORD kLangRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);      // 1049
const WORD kLangEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US); // 1033

class ModuleResources : public ::testing::Test {
protected:
    void SetUp() override {
        m_module.reset(::LoadLibraryExW(zev::test::PluginModulePath().c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(m_module) << ::GetLastError();
    }
    std::string Resource(LPCWSTR type, WORD id, WORD language) {
        HRSRC found = ::FindResourceExW(m_module.get(), type, MAKEINTRESOURCEW(id), language);
        if (!found)
            return {};
        HGLOBAL loaded = ::LoadResource(m_module.get(), found);
        const auto* bytes = static_cast<const char*>(::LockResource(loaded));
        return std::string(bytes, ::SizeofResource(m_module.get(), found));
    }

    zev::UniqueModule m_module;
};

std::uint32_t U32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

/// MD5 through the system's cryptographic provider, an implementation
/// independent of the build step's.
std::string Md5(const std::string& bytes) {
    struct Provider {
        HCRYPTPROV h = 0;
        ~Provider() {
            if (h)
                ::CryptReleaseContext(h, 0);
        }
    } provider;
    struct Hash {
        HCRYPTHASH h = 0;
        ~Hash() {
            if (h)
                ::CryptDestroyHash(h);
        }
    } hash;
    std::string digest(16, '\0');
    DWORD size = 16;
    if (::CryptAcquireContextW(&provider.h, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        ::CryptCreateHash(provider.h, CALG_MD5, 0, 0, &hash.h) &&
        ::CryptHashData(hash.h, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()), 0))
        ::CryptGetHashParam(hash.h, HP_HASHVAL, reinterpret_cast<BYTE*>(digest.data()), &size, 0);
    return digest;
}

TEST(ModuleFile, IsA64BitDll) {
    const std::string file = zev::test::ReadFileBytes(zev::test::PluginModulePath());
    ASSERT_GT(file.size(), 0x200u);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(file.data() + dos->e_lfanew);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, nt->FileHeader.Machine);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic);
}

TEST_F(ModuleResources, MetadataIsDigestedAndWalksToItsEnd) {
    const std::string meta = Resource(RT_RCDATA, 1, kLangRussian);
    ASSERT_EQ(kMetadataSize, meta.size());
    EXPECT_EQ(Md5(meta.substr(0, kDigestOffset)), meta.substr(kDigestOffset));

    EXPECT_EQ(0, std::memcmp(meta.data(), "Velora\0metadata\0", 16));
    EXPECT_EQ(20u, U32(meta, 16));
    EXPECT_EQ(kPidWfsys, U32(meta, 20));
    EXPECT_EQ(kMetadataExportCount, U32(meta, 24));
    EXPECT_EQ(0u, U32(meta, 28));
    EXPECT_EQ(3u, U32(meta, 32));
    EXPECT_EQ(static_cast<std::uint32_t>(kCodePageSystem), U32(meta, 36));
    // The first twelve records of the export table, in order.
    const zev::frame::ImportRecord* exports = zev::wfsys::ExportTable();
    for (std::uint32_t i = 0; i < kMetadataExportCount; ++i)
        EXPECT_EQ(exports[i].functionId, U32(meta, 40 + 4 * i)) << "export " << i;

    struct Walked {
        std::uint32_t iid;
        std::map<std::uint32_t, std::string> entries;
    };
    std::vector<Walked> records;
    std::size_t at = kRecordsOffset;
    while (at < kDigestOffset && records.size() < 3) {
        ASSERT_LE(at + 40, kDigestOffset);
        EXPECT_EQ(36u, U32(meta, at));
        const std::uint32_t count = U32(meta, at + 4);
        EXPECT_EQ(kPidWfsys, U32(meta, at + 8));
        EXPECT_EQ(kRegSubtype, U32(meta, at + 12));
        EXPECT_EQ(kRegVersion, U32(meta, at + 16));
        EXPECT_EQ(kRegValue, U32(meta, at + 20));
        EXPECT_EQ(0u, U32(meta, at + 24));
        EXPECT_EQ(0u, U32(meta, at + 28));
        Walked record{U32(meta, at + 32), {}};
        EXPECT_EQ(static_cast<std::uint32_t>(kCodePageSystem), U32(meta, at + 36));
        at += 40;
        for (std::uint32_t e = 0; e < count; ++e) {
            ASSERT_LE(at + 8, kDigestOffset);
            const std::uint32_t id = U32(meta, at);
            const std::uint32_t size = U32(meta, at + 4);
            ASSERT_LE(at + 8 + size, kDigestOffset);
            record.entries[id] = meta.substr(at + 8, size);
            at += 8 + size;
        }
        EXPECT_EQ(count, record.entries.size()) << "no property twice in a record";
        records.push_back(record);
    }
    EXPECT_EQ(kDigestOffset, at) << "the records end where the digest begins";
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(IID_OS, records[0].iid);
    EXPECT_EQ(IID_OBJPTR, records[1].iid);
    EXPECT_EQ(IID_IO, records[2].iid);
    EXPECT_EQ(11u, records[0].entries.size());
    EXPECT_EQ(8u, records[1].entries.size());
    EXPECT_EQ(7u, records[2].entries.size());
    EXPECT_EQ(std::string("Win32 native file system", 25), records[0].entries[kPropName]);
    EXPECT_EQ(std::string("win32 input/output interface", 29),
              records[2].entries[kPropDescription]);
    EXPECT_EQ(std::string("\x2F\x00", 2), records[0].entries[0x20301002]);
    EXPECT_EQ(250u, U32(records[1].entries[0x20400052], 0));
}

TEST_F(ModuleResources, VersionBlockAndManifest) {
    const std::string version = Resource(RT_VERSION, 1, kLangRussian);
    ASSERT_FALSE(version.empty());
    std::vector<char> block(version.begin(), version.end());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ((10u << 16) | 2u, fixed->dwFileVersionMS);
    EXPECT_EQ((1u << 16) | 274u, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"FileDescription", L"WFSYS"},
        {L"InternalName", L"WFSYS"},
        {L"OriginalFilename", L"WFSYS.VPM"},
    };
    for (const auto& [name, expected] : strings) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041904b0\\") + name;
        ASSERT_TRUE(
            ::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &size));
        EXPECT_STREQ(expected, value);
    }

    const std::string manifest = Resource(RT_MANIFEST, 2, kLangEnglishUs);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
}

} // namespace
