// The signing tool's operations on the portable core, kept apart from its
// command line so that tests and the build can call them directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signature/EndTag.h"
#include "signature/Gostr3410.h"
#include "signature/Registry.h"

namespace zsign {

/// A private key file: "number=N" and "d=<64 hex digits>" lines.
struct PrivateKey {
    uint8_t number = 0;
    zsig::U256 d;
};

bool ReadFile(const std::string& path, std::vector<uint8_t>& out);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool LoadPrivateKey(const std::string& path, PrivateKey& key);
bool SavePrivateKey(const std::string& path, const PrivateKey& key);
zsig::PublicKey PublicOf(const PrivateKey& key);

std::string ToHex(const uint8_t* data, size_t size);
/// Exactly `size` bytes from hex text (upper or lower case); false otherwise.
bool FromHex(const std::string& text, uint8_t* out, size_t size);

/// The end tag over `content` (the bytes it will follow).
zsig::EndTag SignContent(const std::vector<uint8_t>& content, const PrivateKey& key);
/// A container with the tree, signed: container bytes + end tag.
std::vector<uint8_t> SignedContainer(const zsig::Node& tree, uint32_t id, const PrivateKey& key);

/// Writes a fresh development key set into `dir`: root.prv and root.ctr
/// (the public root container), reg.prv and al.pbv (root registry),
/// sign.prv and oper.pbv (key registry). False on an I/O failure.
bool KeyGen(const std::string& dir, std::string& error);

/// Appends the end tag made with `dir`/sign.prv to the file.
bool SignFile(const std::string& keysDir, const std::string& file, std::string& error);

/// Checks the files as the installer does, against `keysDir`/al.pbv and
/// oper.pbv; `rootContainer` empty means the built-in root. One line per
/// file into `report`; 0 when all are accepted, else the library's code.
uint32_t VerifyFiles(const std::string& keysDir, const std::vector<uint8_t>& rootContainer,
                     const std::vector<std::string>& files, std::string& report);

} // namespace zsign
