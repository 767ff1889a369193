#include "tools/zsign/ZsignCommands.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "signature/Container.h"
#include "signature/GostSign.h"
#include "signature/Gostr3411.h"
#include "signature/NodeIds.h"
#include "signature/ZsigLibrary.h"

namespace zsign {

using namespace zsig;

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

std::string ToHex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < size; ++i) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

bool FromHex(const std::string& text, uint8_t* out, size_t size) {
    if (text.size() != 2 * size)
        return false;
    for (size_t i = 0; i < size; ++i) {
        unsigned v = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[2 * i + k];
            unsigned d;
            if (c >= '0' && c <= '9')
                d = unsigned(c - '0');
            else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                d = unsigned((c | 0x20) - 'a' + 10);
            else
                return false;
            v = v << 4 | d;
        }
        out[i] = uint8_t(v);
    }
    return true;
}

bool LoadPrivateKey(const std::string& path, PrivateKey& key) {
    std::ifstream f(path);
    std::string line;
    bool haveNumber = false, haveD = false;
    while (std::getline(f, line)) {
        if (line.rfind("number=", 0) == 0) {
            const int n = std::atoi(line.c_str() + 7);
            haveNumber = n > 0 && n < 256;
            key.number = uint8_t(n);
        } else if (line.rfind("d=", 0) == 0) {
            uint8_t b[32];
            haveD = FromHex(line.substr(2), b, 32);
            key.d = U256::FromBigEndian(b);
        }
    }
    return haveNumber && haveD && !key.d.IsZero() && Compare(key.d, DefaultCurve().q) < 0;
}

bool SavePrivateKey(const std::string& path, const PrivateKey& key) {
    uint8_t b[32];
    key.d.ToBigEndian(b);
    std::ostringstream s;
    s << "# GOST R 34.10-2001 private key, DEVELOPMENT ONLY - not for production\n"
      << "number=" << unsigned(key.number) << "\nd=" << ToHex(b, 32) << "\n";
    const std::string text = s.str();
    return WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

PublicKey PublicOf(const PrivateKey& key) {
    const AffinePoint q = DerivePublicKey(DefaultCurveContext(), key.d);
    PublicKey pub;
    pub.number = key.number;
    q.x.ToBigEndian(pub.key.data());
    q.y.ToBigEndian(pub.key.data() + 32);
    return pub;
}

EndTag SignContent(const std::vector<uint8_t>& content, const PrivateKey& key) {
    const Curve& curve = DefaultCurveContext();
    uint8_t digest[32];
    Gostr3411::Digest(content.data(), content.size(), digest);
    const U256 e = curve.MessageNumber(digest);
    U256 k, r, s;
    do {
        if (!RandomScalar(curve, k)) {
            std::fprintf(stderr, "zsign: cannot read the system's random source\n");
            std::exit(2);
        }
    } while (!SignRaw(curve, key.d, e, k, r, s));
    EndTag tag;
    tag.keyNumber = key.number;
    r.ToBigEndian(tag.signature);
    s.ToBigEndian(tag.signature + 32);
    return tag;
}

std::vector<uint8_t> SignedContainer(const Node& tree, uint32_t id, const PrivateKey& key) {
    std::vector<uint8_t> bytes = WriteContainer(tree, id);
    const std::string tag = MakeEndTag(SignContent(bytes, key));
    bytes.insert(bytes.end(), tag.begin(), tag.end());
    return bytes;
}

namespace {

bool NewKey(uint8_t number, PrivateKey& key) {
    key.number = number;
    return RandomScalar(DefaultCurveContext(), key.d);
}

} // namespace

bool KeyGen(const std::string& dir, std::string& error) {
    PrivateKey root, reg, sign;
    if (!NewKey(1, root) || !NewKey(2, reg) || !NewKey(3, sign)) {
        error = "cannot read the system's random source";
        return false;
    }
    const std::string p = dir + "/";
    const bool ok = SavePrivateKey(p + "root.prv", root) && SavePrivateKey(p + "reg.prv", reg) &&
                    SavePrivateKey(p + "sign.prv", sign) &&
                    WriteFile(p + "root.ctr",
                              WriteContainer(MakeKeyTree({PublicOf(root)}), kRootContainerId)) &&
                    WriteFile(p + "al.pbv", SignedContainer(MakeKeyTree({PublicOf(reg)}),
                                                            kRootRegistryId, root)) &&
                    WriteFile(p + "oper.pbv",
                              SignedContainer(MakeKeyTree({PublicOf(sign)}), kKeyRegistryId, reg));
    if (!ok)
        error = "cannot write the key files into " + dir;
    return ok;
}

bool SignFile(const std::string& keysDir, const std::string& file, std::string& error) {
    PrivateKey key;
    if (!LoadPrivateKey(keysDir + "/sign.prv", key)) {
        error = "cannot read the signing key " + keysDir + "/sign.prv";
        return false;
    }
    std::vector<uint8_t> content;
    if (!ReadFile(file, content)) {
        error = "cannot read " + file;
        return false;
    }
    const std::string tag = MakeEndTag(SignContent(content, key));
    std::ofstream f(file, std::ios::binary | std::ios::app);
    f.write(tag.data(), std::streamsize(tag.size()));
    if (!f) {
        error = "cannot append to " + file;
        return false;
    }
    return true;
}

uint32_t VerifyFiles(const std::string& keysDir, const std::vector<uint8_t>& rootContainer,
                     const std::vector<std::string>& files, std::string& report) {
    Context* ctx = ZSIG_Init(std::malloc, std::free, 0, 1);
    if (!ctx)
        return kNotInitialised;
    Result r = kOk;
    if (!rootContainer.empty())
        r = ZSIG_SetRootContainer(ctx, rootContainer.data(), rootContainer.size());
    ParList* regs = nullptr;
    ParList* objs = nullptr;
    std::vector<std::vector<uint8_t>> contents(2 + files.size());
    if (r == kOk)
        r = ZSIG_ParList_Create(&regs);
    const char* names[] = {"al.pbv", "oper.pbv"};
    for (int i = 0; i < 2 && r == kOk; ++i) {
        if (!ReadFile(keysDir + "/" + names[i], contents[i]) || contents[i].empty()) {
            report += std::string("cannot read ") + keysDir + "/" + names[i] + "\n";
            r = kNotFound;
        } else if (!ZSIG_ParList_AddRegistryImage(regs, contents[i].data(),
                                                  uint32_t(contents[i].size()), nullptr, nullptr)) {
            r = ZSIG_ParList_LastResult(regs);
        }
    }
    if (r == kOk)
        r = ZSIG_PrepareRegsSet(ctx, regs, 0);
    if (r != kOk)
        report += "registries refused: 0x" + ToHex(U32Bytes(__builtin_bswap32(r)).data(), 4) + "\n";
    if (r == kOk)
        r = ZSIG_ParList_Create(&objs);
    std::vector<ItemHandle> handles;
    for (size_t i = 0; i < files.size() && r == kOk; ++i) {
        std::vector<uint8_t>& c = contents[2 + i];
        if (!ReadFile(files[i], c)) {
            report += "cannot read " + files[i] + "\n";
            r = kNotFound;
            break;
        }
        const ItemHandle h =
            ZSIG_ParList_AddObjectImage(objs, c.data(), uint32_t(c.size()), nullptr, nullptr);
        if (!h)
            r = ZSIG_ParList_LastResult(objs);
        handles.push_back(h);
    }
    if (r == kOk) {
        r = ZSIG_CheckObjects(ctx, objs, 0);
        for (size_t i = 0; i < files.size(); ++i) {
            uint32_t status = kOk, size = 4;
            ZSIG_ParList_GetParam(objs, handles[i], kParamStatus, &status, &size);
            report += (status == kOk ? "OK     " : "FAILED ") + files[i];
            if (status != kOk)
                report += " (0x" + ToHex(U32Bytes(__builtin_bswap32(status)).data(), 4) + ")";
            report += "\n";
        }
    }
    if (objs)
        ZSIG_ParList_Release(objs);
    if (regs)
        ZSIG_ParList_Release(regs);
    ZSIG_Shutdown(ctx, true);
    return r == kOk ? 0 : r;
}

} // namespace zsign
