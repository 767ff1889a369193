// zsign: development keys, signing and checking on the portable core.
//
// Byte conventions of the raw commands: every number (private key d,
// public key x and y, nonce k, r, s) is 64 hex digits of a big-endian
// integer; DIGEST is the 32 digest bytes as `zsign hash` prints them
// (byte 0 first), read as a little-endian integer alpha, e = alpha mod q
// (1 when 0). The curve is the standard's example curve ("GOST2001-test").
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "signature/GostSign.h"
#include "signature/Gostr3411.h"
#include "signature/NodeIds.h"
#include "tools/zsign/ZsignCommands.h"

#ifndef ZSIGN_DEFAULT_KEYS
#define ZSIGN_DEFAULT_KEYS "keys/dev"
#endif

namespace {

using namespace zsig;
using namespace zsign;

constexpr char kUsage[] =
    "usage:\n"
    "  zsign keygen DIR                       write a development key set into DIR\n"
    "  zsign sign [--keys DIR] FILE...        append the signature tag (DIR/sign.prv)\n"
    "  zsign verify [--keys DIR] [--root CTR] FILE...\n"
    "                                         check as the installer does (DIR/al.pbv, oper.pbv)\n"
    "  zsign hash FILE...                     GOST R 34.11-94 digest, one line per file\n"
    "  zsign registry [--keys DIR] --id N --out REG FILE...\n"
    "                                         a digest registry of the files, signed\n"
    "  zsign pubkey D                         public key X Y of private key D\n"
    "  zsign raw-sign D DIGEST [K]            prints R S\n"
    "  zsign raw-verify X Y DIGEST R S        prints valid or invalid\n"
    "numbers are 64 hex digits, big-endian; DIGEST is 64 hex digits as `hash` prints it.\n"
    "default key folder: " ZSIGN_DEFAULT_KEYS "\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "zsign: %s\n", message.c_str());
    return 2;
}

bool Number(const std::string& hex, U256& out) {
    uint8_t b[32];
    if (!FromHex(hex, b, 32))
        return false;
    out = U256::FromBigEndian(b);
    return true;
}

std::string Hex(const U256& v) {
    uint8_t b[32];
    v.ToBigEndian(b);
    return ToHex(b, 32);
}

struct Options {
    std::string keys = ZSIGN_DEFAULT_KEYS;
    std::string root, out, id;
    std::vector<std::string> args;
};

Options Parse(int argc, char** argv, int first) {
    Options o;
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--keys" || a == "--root" || a == "--out" || a == "--id") && i + 1 < argc) {
            std::string& slot = a == "--keys"   ? o.keys
                                : a == "--root" ? o.root
                                : a == "--out"  ? o.out
                                                : o.id;
            slot = argv[++i];
        } else {
            o.args.push_back(a);
        }
    }
    return o;
}

int Hash(const Options& o) {
    int status = 0;
    for (const std::string& f : o.args) {
        std::vector<uint8_t> c;
        if (!ReadFile(f, c)) {
            status = Fail("cannot read " + f);
            continue;
        }
        uint8_t d[32];
        Gostr3411::Digest(c.data(), c.size(), d);
        std::printf("%s  %s\n", ToHex(d, 32).c_str(), f.c_str());
    }
    return status;
}

int Registry(const Options& o) {
    PrivateKey key;
    if (!LoadPrivateKey(o.keys + "/sign.prv", key))
        return Fail("cannot read " + o.keys + "/sign.prv");
    const unsigned long id = std::strtoul(o.id.c_str(), nullptr, 0);
    if (o.out.empty() || id == 0 || id >= 0x7FFFF0)
        return Fail("registry needs --out and an --id below 0x7FFFF0");
    std::vector<Digest> digests;
    for (const std::string& f : o.args) {
        std::vector<uint8_t> c;
        if (!ReadFile(f, c))
            return Fail("cannot read " + f);
        Digest d;
        Gostr3411::Digest(c.data(), c.size(), d.data());
        digests.push_back(d);
    }
    if (!WriteFile(o.out, SignedContainer(MakeDigestTree(digests), uint32_t(id), key)))
        return Fail("cannot write " + o.out);
    return 0;
}

int RawSign(const Options& o) {
    const Curve& curve = DefaultCurveContext();
    U256 d, k, r, s;
    uint8_t digest[32];
    if (o.args.size() < 2 || !Number(o.args[0], d) || !FromHex(o.args[1], digest, 32))
        return Fail("raw-sign D DIGEST [K]");
    const U256 e = curve.MessageNumber(digest);
    if (o.args.size() > 2) {
        if (!Number(o.args[2], k) || k.IsZero() || Compare(k, curve.Params().q) >= 0)
            return Fail("K must be in 1..q-1");
        if (!SignRaw(curve, d, e, k, r, s))
            return Fail("this K gives r or s = 0");
    } else {
        do {
            if (!RandomScalar(curve, k))
                return Fail("cannot read the system's random source");
        } while (!SignRaw(curve, d, e, k, r, s));
    }
    std::printf("%s %s\n", Hex(r).c_str(), Hex(s).c_str());
    return 0;
}

int RawVerify(const Options& o) {
    const Curve& curve = DefaultCurveContext();
    AffinePoint q{};
    U256 r, s;
    uint8_t digest[32];
    if (o.args.size() != 5 || !Number(o.args[0], q.x) || !Number(o.args[1], q.y) ||
        !FromHex(o.args[2], digest, 32) || !Number(o.args[3], r) || !Number(o.args[4], s))
        return Fail("raw-verify X Y DIGEST R S");
    const bool ok = curve.VerifyRaw(q, curve.MessageNumber(digest), r, s);
    std::printf("%s\n", ok ? "valid" : "invalid");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string cmd = argv[1];
    const Options o = Parse(argc, argv, 2);
    std::string error;
    if (cmd == "keygen") {
        if (o.args.size() != 1)
            return Fail("keygen DIR");
        return KeyGen(o.args[0], error) ? 0 : Fail(error);
    }
    if (cmd == "sign") {
        for (const std::string& f : o.args) {
            if (!SignFile(o.keys, f, error))
                return Fail(error);
        }
        return o.args.empty() ? Fail("sign FILE...") : 0;
    }
    if (cmd == "verify") {
        std::vector<uint8_t> root;
        if (!o.root.empty() && !ReadFile(o.root, root))
            return Fail("cannot read " + o.root);
        std::string report;
        const uint32_t r = VerifyFiles(o.keys, root, o.args, report);
        std::fputs(report.c_str(), stdout);
        return r == 0 ? 0 : 1;
    }
    if (cmd == "hash")
        return Hash(o);
    if (cmd == "registry")
        return Registry(o);
    if (cmd == "pubkey") {
        PrivateKey key;
        if (o.args.size() != 1 || !Number(o.args[0], key.d))
            return Fail("pubkey D");
        const PublicKey pub = PublicOf(key);
        std::printf("%s %s\n", ToHex(pub.key.data(), 32).c_str(),
                    ToHex(pub.key.data() + 32, 32).c_str());
        return 0;
    }
    if (cmd == "raw-sign")
        return RawSign(o);
    if (cmd == "raw-verify")
        return RawVerify(o);
    std::fputs(kUsage, stderr);
    return 2;
}
