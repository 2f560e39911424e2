#include "artwork/ArtworkCacheHash.h"

#include <openssl/sha.h>

#include <cstdio>

namespace velto::ArtworkCacheHash {

std::string hexDigest(std::string_view text) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    std::string hex;
    hex.reserve(2 * SHA256_DIGEST_LENGTH);
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

}  // namespace velto::ArtworkCacheHash
