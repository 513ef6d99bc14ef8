// What an operator relies on: the TLS the server offers, its health check and metrics, and
// its log as JSON.

#include "CommentServer.h"
#include "DemoData.h"
#include "ServerTestSupport.h"
#include "TestCertificate.h"

#include <gtest/gtest.h>
#include <httplib.h>

using namespace vcserver;
using namespace vctest;

namespace {

// Handshakes by a client that offers only what each priority string allows: the server takes
// TLS 1.3 and 1.2 with forward-secret AEAD suites, and nothing older or weaker.
TEST(ServerTls, OnlyModernProtocolsAndSuitesAreAccepted) {
    TempDir dir;
    const TestCertificate made = makeTestCertificate(dir.path());
    const auto store = openSqliteStore(dir.path() / "comments.db");
    ServerOptions options;
    options.tls = readTlsFiles(made.certificate, made.key);
    RunningServer server(*store, nullptr, 2, options);
    ASSERT_GT(server.port(), 0);
    ASSERT_TRUE(runQuietly({"gnutls-cli", "--version"})) << "needs gnutls-cli (scripts/setup)";

    const struct {
        const char* priority;
        bool accepted;
    } cases[] = {
        {"NORMAL:-VERS-ALL:+VERS-TLS1.3", true},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-CIPHER-ALL:+AES-128-GCM", true},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-CIPHER-ALL:+CHACHA20-POLY1305", true},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.1", false},
        {"NORMAL:-VERS-ALL:+VERS-TLS1.0", false},
        // CBC with an ephemeral key exchange, which the server would otherwise pick.
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-CIPHER-ALL:+AES-128-CBC:+AES-256-CBC:+SHA1:+SHA256",
         false},
        // No forward secrecy: only finite-field or no ephemeral key exchange.
        {"NORMAL:-VERS-ALL:+VERS-TLS1.2:-KX-ALL:+DHE-RSA:+RSA:+DHE-ECDSA", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.priority);
        EXPECT_EQ(runQuietly({"gnutls-cli", "--insecure", "--priority", c.priority, "-p",
                              std::to_string(server.port()), "127.0.0.1"}),
                  c.accepted);
    }
}

} // namespace
