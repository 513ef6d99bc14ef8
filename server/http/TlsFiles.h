#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vcserver {

// What HTTPS offers, best first, in the server's order: TLS 1.3 and 1.2 only (1.0 and 1.1
// are withdrawn), ephemeral elliptic-curve key exchange only (forward secrecy), AEAD ciphers
// only (no CBC), no SHA-1 signatures. A GnuTLS priority string.
inline constexpr const char* kTlsPriorities =
    "NONE:+VERS-TLS1.3:+VERS-TLS1.2:+AES-256-GCM:+AES-128-GCM:+CHACHA20-POLY1305:+AEAD:"
    "+ECDHE-ECDSA:+ECDHE-RSA:+SIGN-ALL:-SIGN-RSA-SHA1:-SIGN-ECDSA-SHA1:+COMP-NULL:"
    "+GROUP-EC-ALL:+CTYPE-X509:%SERVER_PRECEDENCE";

// A certificate (with any intermediates after it) and its private key, both PEM.
struct TlsCredentials {
    std::string certificate;
    std::string key;
};

class TlsFilesError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads both files and checks that the key belongs to the certificate, so a server that
// could not serve HTTPS says so before it starts; throws TlsFilesError naming the file.
TlsCredentials readTlsFiles(const std::filesystem::path& certificate,
                            const std::filesystem::path& key);

} // namespace vcserver
