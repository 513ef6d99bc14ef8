#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vcserver {

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
