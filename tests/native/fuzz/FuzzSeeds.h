// The development registries, read once from the key folder of the build.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace zev::fuzz {

inline const std::vector<uint8_t>& DevRegistry(const std::string& name) {
    static std::map<std::string, std::vector<uint8_t>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        std::ifstream f(std::string(ZEV_KEYS_DIR) + "/" + name, std::ios::binary);
        it = cache
                 .emplace(name, std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                                     std::istreambuf_iterator<char>()))
                 .first;
    }
    return it->second;
}

} // namespace zev::fuzz
