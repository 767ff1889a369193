#include "signature/ZsigLibrary.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "signature/BuiltinRoot.h"
#include "signature/Container.h"
#include "signature/EndTag.h"
#include "signature/Gostr3410.h"
#include "signature/Gostr3411.h"
#include "signature/NodeIds.h"
#include "signature/Registry.h"

namespace zsig {
namespace {

constexpr uint32_t kReaderChunk = 0x4000;
constexpr size_t kMaxReaderContent = size_t(1) << 28; // 256 MiB
constexpr int32_t kReaderRewind = 1;
constexpr int32_t kReaderRead = 2;
constexpr int32_t kReaderClose = 4;
constexpr uint32_t kAcceptedByRegistry = 1;
constexpr uint32_t kAcceptedBySignature = 2;
constexpr size_t kMaxItems = 0x4000;

struct ProcessState {
    AllocFn alloc = nullptr;
    FreeFn release = nullptr;
    bool useForTree = false;
};
ProcessState g_state;

bool Initialised() {
    return g_state.alloc != nullptr && g_state.release != nullptr;
}

template <typename T> T* Create() {
    void* p =
        g_state.useForTree ? g_state.alloc(sizeof(T)) : ::operator new(sizeof(T), std::nothrow);
    return p ? new (p) T() : nullptr;
}
template <typename T> void Destroy(T* p, bool useForTree) {
    p->~T();
    if (useForTree)
        g_state.release(p);
    else
        ::operator delete(p);
}

// The content of an item: caller-owned memory, or a reader.
struct ContentRef {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ReaderFn reader = nullptr;
    void* readerContext = nullptr;
};

std::vector<uint8_t> PointerBytes(const void* p) {
    std::vector<uint8_t> b(sizeof p);
    std::memcpy(b.data(), &p, sizeof p);
    return b;
}

} // namespace

struct ParList {
    Node root{kEmptyNode};
    std::map<ItemHandle, ContentRef> content;
    uint32_t seed = 0;
    bool useForTree = false;

    Node* Item(ItemHandle h) {
        if (h == 0)
            return nullptr;
        for (Node& c : root.children) {
            if ((c.id & 0xFFFF) == h)
                return &c;
        }
        return nullptr;
    }
    Result Answer(Result r) {
        root.SetU32(kIdStatus, r);
        return r;
    }
    // Serials come from a generator seeded with the list's address, redrawn
    // while taken; a list holds at most kMaxItems items, so a free serial
    // is always found quickly.
    ItemHandle NewHandle() {
        for (;;) {
            seed = seed * 1103515245u + 12345u;
            const ItemHandle h = ItemHandle(((seed >> 8) & 0xFFFF) % 0xFFFF);
            if (h != 0 && content.count(h) == 0)
                return h;
        }
    }
    std::vector<Node*> Items() {
        std::vector<Node*> out;
        for (Node& c : root.children) {
            if ((c.id & kKindMask) != (kIdStatus & kKindMask))
                out.push_back(&c);
        }
        return out;
    }
};

struct TrustedKey {
    PublicKey key;
};

struct Context {
    Node root{0x01150000};
    std::vector<PublicKey> rootKeys; // from the root container
    bool haveRootRegistry = false;
    Digest rootRegistryDigest{};
    std::vector<PublicKey> registryKeys; // held by the root registry
    std::vector<Digest> keyRegistryDigests;
    std::vector<PublicKey> fileKeys; // held by the key registries
    std::map<uint32_t, std::vector<std::pair<Digest, std::vector<Digest>>>> others;
    std::vector<std::pair<std::array<uint8_t, 64>, Digest>> verified; // cache
    bool useForTree = false;

    Result Answer(Result r) {
        root.SetU32(kIdStatus, r);
        return r;
    }
};

namespace {

// Reads the whole content of an item.
Result LoadContent(const ContentRef& ref, std::vector<uint8_t>& out) {
    out.clear();
    if (!ref.reader) {
        out.assign(ref.data, ref.data + ref.size);
        return kOk;
    }
    if (ref.reader(ref.readerContext, nullptr, 0, kReaderRewind) < 0)
        return kReaderFailed;
    std::vector<uint8_t> buffer(kReaderChunk);
    Result r = kOk;
    for (;;) {
        const int32_t n = ref.reader(ref.readerContext, buffer.data(), kReaderChunk, kReaderRead);
        if (n < 0 || uint32_t(n) > kReaderChunk || out.size() + uint32_t(n) > kMaxReaderContent) {
            r = kReaderFailed;
            break;
        }
        if (n == 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    ref.reader(ref.readerContext, nullptr, 0, kReaderClose);
    return r;
}

// Keys of `keys` with the number; kSigningKeyNotFound / kAmbiguousKey.
Result FindKey(const std::vector<PublicKey>& keys, uint8_t number, PublicKey& out) {
    const PublicKey* found = nullptr;
    for (const PublicKey& k : keys) {
        if (k.number != number)
            continue;
        if (found && found->key != k.key)
            return kAmbiguousKey;
        found = &k;
    }
    if (!found)
        return kSigningKeyNotFound;
    out = *found;
    return kOk;
}

// A registry image, decoded and with its tag.
struct SignedRegistry {
    Result status = kOk;
    uint32_t id = 0;
    Node tree;
    EndTag tag;
    Digest digest{}; // of the signed bytes (without the tag)
};

SignedRegistry DecodeRegistry(const std::vector<uint8_t>& bytes) {
    SignedRegistry reg;
    const TagScan scan = FindEndTag(bytes.data(), bytes.size(), reg.tag);
    if (scan == TagScan::kAbsent) {
        // Report what is wrong with the container itself first.
        Node tree;
        const Result r = ReadContainer(bytes.data(), bytes.size(), std::nullopt, tree);
        reg.status = r != kOk ? r : kNoSignatureOrRegistry;
        return reg;
    }
    if (scan == TagScan::kMalformed) {
        reg.status = kSignatureNotEvaluable;
        return reg;
    }
    const size_t signedSize = bytes.size() - kEndTagSize;
    ContainerHeader header;
    reg.status = ReadContainer(bytes.data(), signedSize, std::nullopt, reg.tree, &header);
    if (reg.status != kOk)
        return reg;
    reg.id = header.id;
    Gostr3411::Digest(bytes.data(), signedSize, reg.digest.data());
    return reg;
}

bool CheckSignature(const PublicKey& key, const Digest& digest, const EndTag& tag) {
    return DefaultCurveContext().Verify(key.key.data(), digest.data(), tag.signature);
}

// Verifies with the key of that number among `keys`.
Result VerifyWith(const std::vector<PublicKey>& keys, const SignedRegistry& reg) {
    PublicKey key;
    const Result r = FindKey(keys, reg.tag.keyNumber, key);
    if (r != kOk)
        return r;
    return CheckSignature(key, reg.digest, reg.tag) ? kOk : kConsistencyCheckFailed;
}

bool Contains(const std::vector<Digest>& v, const Digest& d) {
    return std::find(v.begin(), v.end(), d) != v.end();
}

ItemHandle AddImage(ParList* list, uint32_t kind, const void* content, uint32_t size,
                    ReaderFn reader, void* readerContext) {
    if (!list)
        return 0;
    if (!Initialised()) {
        list->Answer(kNotInitialised);
        return 0;
    }
    if (!reader && (!content || size == 0)) {
        list->Answer(kInvalidArgument);
        return 0;
    }
    if (list->content.size() >= kMaxItems) {
        list->Answer(kNoMemory);
        return 0;
    }
    const ItemHandle h = list->NewHandle();
    Node item(kind | h);
    item.SetU32(kIdContentLength, size);
    item.SetU32(kIdStatus, kNewItem);
    item.Set(kParamBase + kParamContent, PointerBytes(content));
    list->root.children.push_back(std::move(item));
    list->content[h] =
        ContentRef{static_cast<const uint8_t*>(content), size, reader, readerContext};
    list->Answer(kOk);
    return h;
}

bool IsObjectKind(uint32_t id) {
    const uint32_t kind = id & kKindMask;
    return kind == kKindObjectA || kind == kKindObjectImage || kind == kKindObjectC;
}

bool IsRegistryKind(uint32_t id) {
    return (id & kKindMask) == kKindRegistryImage;
}

// The common start of the two set operations: the arguments, and the items
// of the wanted kinds (kNotFound when there is none).
Result SelectItems(Context* ctx, ParList* list, bool (*wanted)(uint32_t),
                   std::vector<Node*>& items) {
    if (!Initialised())
        return ctx ? ctx->Answer(kNotInitialised) : kNotInitialised;
    if (!ctx || !list)
        return ctx ? ctx->Answer(kInvalidArgument) : kInvalidArgument;
    for (Node* n : list->Items()) {
        if (wanted(n->id))
            items.push_back(n);
    }
    if (items.empty()) {
        list->Answer(kNotFound);
        return ctx->Answer(kNotFound);
    }
    return kOk;
}

} // namespace

Context* ZSIG_Init(AllocFn alloc, FreeFn release, uint32_t reserved, uint32_t useForTree) {
    if (!alloc || !release || reserved != 0)
        return nullptr;
    if (Initialised() && (g_state.alloc != alloc || g_state.release != release))
        return nullptr;
    g_state.alloc = alloc;
    g_state.release = release;
    g_state.useForTree = useForTree != 0;
    Context* ctx = Create<Context>();
    if (!ctx)
        return nullptr;
    ctx->useForTree = g_state.useForTree;
    if (ZSIG_SetRootContainer(ctx, kBuiltinRootContainer, kBuiltinRootContainerSize) != kOk) {
        Destroy(ctx, ctx->useForTree);
        return nullptr;
    }
    return ctx;
}

Result ZSIG_Shutdown(Context* ctx, bool final) {
    if (ctx)
        Destroy(ctx, ctx->useForTree);
    if (final)
        g_state = ProcessState{};
    return kOk;
}

Result ZSIG_SetRootContainer(Context* ctx, const uint8_t* data, size_t size) {
    if (!ctx)
        return kInvalidArgument;
    Node tree;
    const Result r = ReadContainer(data, size, kRootContainerId, tree);
    if (r != kOk)
        return ctx->Answer(r);
    std::vector<PublicKey> keys = ReadKeys(tree);
    if (keys.empty())
        return ctx->Answer(kNotFound);
    ctx->rootKeys = std::move(keys);
    return ctx->Answer(kOk);
}

Result ZSIG_ParList_Create(ParList** out) {
    if (!out)
        return kInvalidArgument;
    *out = nullptr;
    if (!Initialised())
        return kNotInitialised;
    ParList* list = Create<ParList>();
    if (!list)
        return kNoMemory;
    list->useForTree = g_state.useForTree;
    list->seed = uint32_t(reinterpret_cast<uintptr_t>(list));
    *out = list;
    return list->Answer(kOk);
}

Result ZSIG_ParList_Release(ParList* list) {
    if (!list)
        return kInvalidArgument;
    Destroy(list, list->useForTree);
    return kOk;
}

ItemHandle ZSIG_ParList_First(ParList* list) {
    if (!list)
        return 0;
    const auto items = list->Items();
    return items.empty() ? 0 : ItemHandle(items.front()->id & 0xFFFF);
}

ItemHandle ZSIG_ParList_Next(ParList* list, ItemHandle after) {
    if (!list)
        return 0;
    const auto items = list->Items();
    for (size_t i = 0; i + 1 < items.size(); ++i) {
        if ((items[i]->id & 0xFFFF) == after)
            return ItemHandle(items[i + 1]->id & 0xFFFF);
    }
    return 0;
}

Result ZSIG_ParList_LastResult(const ParList* list) {
    uint32_t r = kInvalidArgument;
    if (list)
        list->root.GetU32(kIdStatus, r);
    return r;
}

ItemHandle ZSIG_ParList_AddRegistryImage(ParList* list, const void* content, uint32_t size,
                                         ReaderFn reader, void* readerContext) {
    return AddImage(list, kKindRegistryImage, content, size, reader, readerContext);
}

ItemHandle ZSIG_ParList_AddObjectImage(ParList* list, const void* content, uint32_t size,
                                       ReaderFn reader, void* readerContext) {
    return AddImage(list, kKindObjectImage, content, size, reader, readerContext);
}

Result ZSIG_ParList_SetParam(ParList* list, ItemHandle item, uint32_t number, const void* data,
                             uint32_t size) {
    if (!list)
        return kInvalidArgument;
    Node* n = list->Item(item);
    if (!n)
        return list->Answer(kNotFound);
    if (number <= kParamStatus || number > 0xFFFF || (!data && size != 0))
        return list->Answer(kInvalidArgument);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    n->Set(kParamBase + number, std::vector<uint8_t>(p, p + size));
    return list->Answer(kOk);
}

Result ZSIG_ParList_SetName(ParList* list, ItemHandle item, const void* data, uint32_t size) {
    if (!list)
        return kInvalidArgument;
    Node* n = list->Item(item);
    if (!n)
        return list->Answer(kNotFound);
    if (!IsObjectKind(n->id))
        return list->Answer(kParameterAbsent);
    if (!data && size != 0)
        return list->Answer(kInvalidArgument);
    uint32_t serial = 1;
    while (n->Find(kNameBase + serial))
        ++serial;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    n->children.emplace_back(kNameBase + serial, std::vector<uint8_t>(p, p + size));
    return list->Answer(kOk);
}

Result ZSIG_ParList_GetParam(ParList* list, ItemHandle item, uint32_t number, void* buffer,
                             uint32_t* size) {
    if (!list || !size)
        return list ? list->Answer(kInvalidArgument) : kInvalidArgument;
    Node* n = list->Item(item);
    if (!n)
        return list->Answer(kNotFound);
    std::vector<uint8_t> value;
    const uint32_t role = (n->id >> 16) & 0xFF;
    if (number == kParamContent || number == kParamReader) {
        if (role != 0x0B && role != 0x0F && role != 0x51)
            return list->Answer(kParameterAbsent);
        const ContentRef& ref = list->content[item];
        value = U32Bytes(number == kParamContent ? ref.size : uint32_t(ref.reader != nullptr));
    } else if (number == kParamStatus) {
        uint32_t status = kOk;
        if (!n->GetU32(kIdStatus, status) || status == kOk)
            return list->Answer(kParameterAbsent);
        value = U32Bytes(status);
    } else {
        const Node* p = n->Find(kParamBase + number);
        if (!p)
            return list->Answer(kParameterAbsent);
        value = p->value.bytes;
    }
    const uint32_t needed = uint32_t(value.size());
    if (!buffer) {
        *size = needed;
        return list->Answer(kOk);
    }
    if (*size < needed) {
        *size = needed;
        return list->Answer(kBufferTooSmall);
    }
    if (needed > 0)
        std::memcpy(buffer, value.data(), needed);
    *size = needed;
    return list->Answer(kOk);
}

// Root registries verify with the root container's keys, key registries
// with the root registry's keys, further registries with any trusted key.
// A registry whose digest is already in the set is skipped with
// kRegistryAlreadyPresent, which does not count as a failure. The answer
// is the first failing item's status; failing none, kNoRegistryAccepted
// when the context still has no key registry.
Result ZSIG_PrepareRegsSet(Context* ctx, ParList* list, uint32_t /*reserved*/) {
    std::vector<Node*> items;
    if (const Result r = SelectItems(ctx, list, IsRegistryKind, items); r != kOk)
        return r;
    std::vector<SignedRegistry> regs;
    for (Node* n : items) {
        std::vector<uint8_t> bytes;
        const Result r = LoadContent(list->content[ItemHandle(n->id & 0xFFFF)], bytes);
        regs.push_back(r == kOk ? DecodeRegistry(bytes) : SignedRegistry{r, 0, {}, {}, {}});
    }
    // Root registries first, then key registries, then the others, so that
    // the order of the files does not matter.
    for (SignedRegistry& reg : regs) {
        if (reg.status != kOk || reg.id != kRootRegistryId)
            continue;
        reg.status = VerifyWith(ctx->rootKeys, reg);
        if (reg.status != kOk)
            continue;
        if (ctx->haveRootRegistry && ctx->rootRegistryDigest == reg.digest) {
            reg.status = kRegistryAlreadyPresent;
            continue;
        }
        ctx->haveRootRegistry = true;
        ctx->rootRegistryDigest = reg.digest;
        for (const PublicKey& k : ReadKeys(reg.tree))
            ctx->registryKeys.push_back(k);
    }
    for (SignedRegistry& reg : regs) {
        if (reg.status != kOk || reg.id != kKeyRegistryId)
            continue;
        reg.status = VerifyWith(ctx->registryKeys, reg);
        if (reg.status != kOk)
            continue;
        if (Contains(ctx->keyRegistryDigests, reg.digest)) {
            reg.status = kRegistryAlreadyPresent;
            continue;
        }
        ctx->keyRegistryDigests.push_back(reg.digest);
        for (const PublicKey& k : ReadKeys(reg.tree))
            ctx->fileKeys.push_back(k);
    }
    for (SignedRegistry& reg : regs) {
        if (reg.status != kOk || reg.id == kRootRegistryId || reg.id == kKeyRegistryId)
            continue;
        if (reg.id == kRootContainerId || reg.id == kSignatureContainerId) {
            reg.status = kNoSignatureOrRegistry;
            continue;
        }
        reg.status = VerifyWith(ctx->fileKeys, reg);
        if (reg.status != kOk)
            continue;
        auto& set = ctx->others[reg.id];
        const bool present = std::any_of(set.begin(), set.end(),
                                         [&](const auto& e) { return e.first == reg.digest; });
        if (present) {
            reg.status = kRegistryAlreadyPresent;
            continue;
        }
        set.emplace_back(reg.digest, ReadDigests(reg.tree));
    }
    Result answer = kOk;
    for (size_t i = 0; i < items.size(); ++i) {
        items[i]->SetU32(kIdStatus, regs[i].status);
        if (regs[i].id != 0)
            items[i]->SetU32(kIdRegistryId, regs[i].id);
        if (answer == kOk && regs[i].status != kOk && regs[i].status != kRegistryAlreadyPresent)
            answer = regs[i].status;
    }
    if (answer == kOk && ctx->fileKeys.empty() && ctx->keyRegistryDigests.empty())
        answer = kNoRegistryAccepted;
    list->Answer(answer);
    return ctx->Answer(answer);
}

// Each object is first looked up by digest in the prepared digest
// registries (only the one named by its parameter 4, when set; only the
// position named by its parameter 6, when set), then verified by its end
// tag with a file-signing key. Statuses: kOk (parameter 4 set to 1 or 2),
// kConsistencyCheckFailed (the signature does not verify),
// kSigningKeyNotFound, kAmbiguousKey, kSignatureNotEvaluable (malformed
// tag), kNoSignatureOrRegistry (no tag and no registry),
// kDigestPositionBeyondRegistry, kReaderFailed.
Result ZSIG_CheckObjects(Context* ctx, ParList* list, uint32_t /*reserved*/) {
    std::vector<Node*> objects;
    if (const Result r = SelectItems(ctx, list, IsObjectKind, objects); r != kOk)
        return r;
    bool allAccepted = true;
    for (Node* n : objects) {
        n->SetU32(kIdStatus, kNotYetVerified);
        std::vector<uint8_t> bytes;
        Result status = LoadContent(list->content[ItemHandle(n->id & 0xFFFF)], bytes);
        if (status == kOk && bytes.empty())
            status = kInvalidArgument;
        uint32_t acceptedBy = 0;
        bool registrySearched = false;
        if (status == kOk) {
            Digest whole{};
            if (const Node* supplied = n->Find(kIdSuppliedDigest);
                supplied && supplied->value.bytes.size() == 32)
                std::copy(supplied->value.bytes.begin(), supplied->value.bytes.end(),
                          whole.begin());
            else
                Gostr3411::Digest(bytes.data(), bytes.size(), whole.data());
            n->Set(kIdDigest, std::vector<uint8_t>(whole.begin(), whole.end()));
            uint32_t wantedId = 0, position = 0;
            const Node* idParam = n->Find(kParamBase + kParamAcceptedBy);
            const bool haveId = idParam && idParam->value.bytes.size() == 4 &&
                                n->GetU32(kParamBase + kParamAcceptedBy, wantedId);
            const bool havePosition = n->GetU32(kParamBase + kParamDigestIndex, position);
            for (const auto& [id, registries] : ctx->others) {
                if (haveId && id != wantedId)
                    continue;
                for (const auto& reg : registries) {
                    registrySearched = true;
                    const auto& digests = reg.second;
                    if (havePosition) {
                        if (position == 0 || position > digests.size())
                            status = kDigestPositionBeyondRegistry;
                        else if (digests[position - 1] == whole)
                            acceptedBy = kAcceptedByRegistry;
                    } else if (Contains(digests, whole)) {
                        acceptedBy = kAcceptedByRegistry;
                    }
                }
            }
        }
        if (status == kOk && acceptedBy == 0) {
            EndTag tag;
            const TagScan scan = FindEndTag(bytes.data(), bytes.size(), tag);
            if (scan == TagScan::kAbsent) {
                status = registrySearched ? kConsistencyCheckFailed : kNoSignatureOrRegistry;
            } else if (scan == TagScan::kMalformed) {
                status = kSignatureNotEvaluable;
            } else {
                PublicKey key;
                status = FindKey(ctx->fileKeys, tag.keyNumber, key);
                if (status == kOk) {
                    Digest signedDigest;
                    Gostr3411::Digest(bytes.data(), bytes.size() - kEndTagSize,
                                      signedDigest.data());
                    const auto cached = std::make_pair(key.key, signedDigest);
                    if (std::find(ctx->verified.begin(), ctx->verified.end(), cached) !=
                        ctx->verified.end()) {
                        acceptedBy = kAcceptedBySignature;
                    } else if (CheckSignature(key, signedDigest, tag)) {
                        ctx->verified.push_back(cached);
                        acceptedBy = kAcceptedBySignature;
                    } else {
                        status = kConsistencyCheckFailed;
                    }
                }
            }
        }
        if (acceptedBy != 0) {
            status = kOk;
            n->SetU32(kParamBase + kParamAcceptedBy, acceptedBy);
        }
        n->SetU32(kIdStatus, status);
        allAccepted = allAccepted && status == kOk;
    }
    const Result answer = allAccepted ? kOk : kConsistencyCheckFailed;
    list->Answer(answer);
    return ctx->Answer(answer);
}

ItemHandle ZSIG_ParList_NextFailed(ParList* list, ItemHandle after, Result* status) {
    if (!list)
        return 0;
    bool passed = after == 0;
    for (Node* n : list->Items()) {
        const ItemHandle h = ItemHandle(n->id & 0xFFFF);
        if (!passed) {
            passed = h == after;
            continue;
        }
        uint32_t s = kOk;
        if (n->GetU32(kIdStatus, s) && s != kOk) {
            if (status)
                *status = s;
            return h;
        }
    }
    return 0;
}

ItemHandle ZSIG_ParList_FirstFailed(ParList* list, Result* status) {
    return ZSIG_ParList_NextFailed(list, 0, status);
}

Result ZSIG_ParList_GetObject(ParList* list, ItemHandle item, void* buffer, uint32_t* size) {
    if (!list)
        return kInvalidArgument;
    if (!list->Item(item))
        return list->Answer(kNotFound);
    const ContentRef& ref = list->content[item];
    if (buffer && size) {
        if (*size < ref.size) {
            *size = ref.size;
            return list->Answer(kBufferTooSmall);
        }
        if (ref.data && ref.size > 0)
            std::memcpy(buffer, ref.data, ref.size);
    }
    if (size)
        *size = ref.size;
    return list->Answer(kOk);
}

} // namespace zsig
