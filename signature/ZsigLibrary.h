// The signature library's operations, in the order FileSignChecker uses
// them. Portable: no Windows headers.
//
// Usage:
//   ZSIG_Init -> context; ZSIG_ParList_Create twice (registries, objects);
//   ZSIG_ParList_AddRegistryImage for each key file, ZSIG_PrepareRegsSet;
//   ZSIG_ParList_AddObjectImage for each file, ZSIG_CheckObjects; on
//   kConsistencyCheckFailed walk ZSIG_ParList_FirstFailed/NextFailed;
//   release the lists, ZSIG_Shutdown.
//
// Trust chain: the root container built in at compile time (identifier
// 0x7FFFFE) holds the root public key. A root registry (0x7FFFFC, "al.pbv")
// signed by the root key lists registry keys; a key registry (0x7FFFFA,
// "oper.pbv") signed by one of those lists the file-signing keys. Files
// carry the 94-byte end tag (EndTag.h) made with a file-signing key, or
// are listed by digest in a further registry signed by a trusted key.
// Registries are signed the same way: the container bytes followed by an
// end tag.
//
// Every operation records its answer as the list's (or context's) last
// result, and items carry their own status (parameter 3).
#pragma once

#include <cstddef>
#include <cstdint>

#include "signature/ZsigResult.h"

namespace zsig {

using AllocFn = void* (*)(size_t);
using FreeFn = void (*)(void*);
/// Content reader: mode 1 rewinds (buffer null, size 0), mode 2 reads up to
/// `size` bytes and answers how many (0 at the end), mode 4 closes; a
/// negative answer is a failure.
using ReaderFn = int32_t (*)(void* context, void* buffer, uint32_t size, uint32_t mode);

struct Context;
struct ParList;
using ItemHandle = uint16_t; ///< 0 is "no item"

/// Initialises the library. The first call fixes the process-wide
/// allocation pair; later calls must pass the same pair (else null).
/// `reserved` must be 0; with `useForTree` the pair also allocates the
/// library's own records. Null when not possible.
Context* ZSIG_Init(AllocFn alloc, FreeFn release, uint32_t reserved, uint32_t useForTree);
/// Releases the context; with `final` also the process-wide state. Always kOk.
Result ZSIG_Shutdown(Context* ctx, bool final);
/// Replaces the built-in root container (zsign and tests use other key
/// material this way). Answers the container's code.
Result ZSIG_SetRootContainer(Context* ctx, const uint8_t* data, size_t size);

Result ZSIG_ParList_Create(ParList** out);
Result ZSIG_ParList_Release(ParList* list);
ItemHandle ZSIG_ParList_First(ParList* list);
ItemHandle ZSIG_ParList_Next(ParList* list, ItemHandle after);
/// The answer of the list's last operation.
Result ZSIG_ParList_LastResult(const ParList* list);

/// Adds an item over caller-owned content (which must outlive the list's
/// use of it; the library never writes to it). Answers the item, or 0 with
/// the list's last result kInvalidArgument (no list, no content or length
/// 0 without a reader), kNotInitialised, or kNoMemory (16384 items).
ItemHandle ZSIG_ParList_AddRegistryImage(ParList* list, const void* content, uint32_t size,
                                         ReaderFn reader, void* readerContext);
ItemHandle ZSIG_ParList_AddObjectImage(ParList* list, const void* content, uint32_t size,
                                       ReaderFn reader, void* readerContext);

/// Stores a copy of `data` as parameter `number` (not 1, 2 or 3).
Result ZSIG_ParList_SetParam(ParList* list, ItemHandle item, uint32_t number, const void* data,
                             uint32_t size);
/// Stores the item's name (object items only).
Result ZSIG_ParList_SetName(ParList* list, ItemHandle item, const void* data, uint32_t size);
/// Reads parameter `number`. 1 answers the content length and 2 whether a
/// reader is set (4 bytes each); 3 the item's status (kParameterAbsent
/// when that is kOk or unset); others the stored copy. With a null buffer
/// only `*size` is set; with a short one kBufferTooSmall and the size.
Result ZSIG_ParList_GetParam(ParList* list, ItemHandle item, uint32_t number, void* buffer,
                             uint32_t* size);

/// Builds the trusted registry set in the context from the registry images.
Result ZSIG_PrepareRegsSet(Context* ctx, ParList* registries, uint32_t reserved);
/// Checks every object image against the prepared set: kOk or
/// kConsistencyCheckFailed (item statuses tell why).
Result ZSIG_CheckObjects(Context* ctx, ParList* objects, uint32_t reserved);

/// The first / next item whose status is not kOk, 0 when there is none.
ItemHandle ZSIG_ParList_FirstFailed(ParList* list, Result* status);
ItemHandle ZSIG_ParList_NextFailed(ParList* list, ItemHandle after, Result* status);
/// Looks the item up and, with a buffer, copies its content; kNotFound when
/// absent, kBufferTooSmall (and the size) when the buffer is short.
Result ZSIG_ParList_GetObject(ParList* list, ItemHandle item, void* buffer, uint32_t* size);

} // namespace zsig
