#include "http/TlsFiles.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

namespace vcserver {

namespace {

std::string readWhole(const std::filesystem::path& file, const char* what) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw TlsFilesError(std::string("cannot read TLS ") + what + " " + file.string() + ": " +
                            std::generic_category().message(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

gnutls_datum_t datumOf(const std::string& text) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
            static_cast<unsigned>(text.size())};
}

} // namespace

TlsCredentials readTlsFiles(const std::filesystem::path& certificate,
                            const std::filesystem::path& key) {
    TlsCredentials tls{readWhole(certificate, "certificate"), readWhole(key, "key")};
    const gnutls_datum_t certData = datumOf(tls.certificate);
    const gnutls_datum_t keyData = datumOf(tls.key);

    gnutls_x509_crt_t* chain = nullptr;
    unsigned count = 0;
    if (const int rc =
            gnutls_x509_crt_list_import2(&chain, &count, &certData, GNUTLS_X509_FMT_PEM, 0);
        rc < 0) {
        throw TlsFilesError("cannot use TLS certificate " + certificate.string() + ": " +
                            gnutls_strerror(rc));
    }
    for (unsigned i = 0; i < count; ++i) {
        gnutls_x509_crt_deinit(chain[i]);
    }
    gnutls_free(chain);

    gnutls_x509_privkey_t parsedKey = nullptr;
    gnutls_x509_privkey_init(&parsedKey);
    const int keyRc =
        gnutls_x509_privkey_import2(parsedKey, &keyData, GNUTLS_X509_FMT_PEM, nullptr, 0);
    gnutls_x509_privkey_deinit(parsedKey);
    if (keyRc < 0) {
        throw TlsFilesError("cannot use TLS key " + key.string() + ": " + gnutls_strerror(keyRc));
    }

    gnutls_certificate_credentials_t pair = nullptr;
    gnutls_certificate_allocate_credentials(&pair);
    const int pairRc = gnutls_certificate_set_x509_key_mem2(pair, &certData, &keyData,
                                                            GNUTLS_X509_FMT_PEM, nullptr, 0);
    gnutls_certificate_free_credentials(pair);
    if (pairRc < 0) {
        throw TlsFilesError("the TLS key " + key.string() + " does not go with the certificate " +
                            certificate.string() + ": " + gnutls_strerror(pairRc));
    }
    return tls;
}

} // namespace vcserver
