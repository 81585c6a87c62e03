// The TLS client of https:// requests: Windows' own TLS (SSPI/Schannel) over
// a connected socket, and the check of the server's certificate through
// CryptoAPI. Nothing is bundled; what the platform's Schannel offers is used
// (TLS 1.2 or newer, ALPN offering only http/1.1, SNI from the host).
//
// Connection-thread side only. The socket is borrowed (the UI thread closes
// it); the TlsStream must be destroyed before it is.
#pragma once

#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/server_stream_win.h"
#include "proxy/tls_failure.h"

namespace vellum {

// Judges the server's certificate for `host`: the chain built with
// CertGetCertificateChain (with the certificates the server sent as extra
// store) and checked with CertVerifyCertificateChainPolicy for SSL with the
// host name. A chain with any error status fails too, as Wine's SSL policy
// accepts a chain that ends at an untrusted root.
TlsFailure check_server_certificate(PCCERT_CONTEXT certificate, const std::string& host);

// "TLS 1.2", "TLS 1.3", or "TLS" for protocol bits not known here.
const char* tls_protocol_name(DWORD protocol);

class TlsStream : public ServerStream {
public:
    // Runs the handshake over `socket` for `host` and checks the server's
    // certificate; none on any failure, with `failure` saying why and
    // `error` the SSPI or CryptoAPI code (0 when none applies).
    static std::unique_ptr<TlsStream> open(SOCKET socket, const std::string& host, int handshake_seconds,
                                           TlsFailure& failure, long& error);
    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    bool send_all(std::string_view bytes) override;
    int peek_prefix(const char* expected, int length, char* peeked, int window) override;
    int receive(char* buffer, int size) override;
    int wait_readable(int seconds) override;
    int peek(char* buffer, int size) override;

    // The protocol Schannel agreed (SP_PROT_* bits) and whether ALPN chose http/1.1.
    DWORD protocol() const { return protocol_; }
    bool alpn_http11() const { return alpn_http11_; }

private:
    explicit TlsStream(SOCKET socket);
    TlsFailure handshake(const std::string& host, long& error);
    // Decrypts at least one more record into plain_: 1 when bytes came (or a
    // record without data), 0 when the server closed, -1 on failure.
    int read_record();
    // Receives more encrypted bytes into in_; the count, 0 closed, < 0 failed.
    int receive_more();
    bool send_raw(const char* data, std::size_t size);

    SOCKET socket_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool have_credentials_ = false;
    bool have_context_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<char> in_;       // encrypted bytes received, not yet decrypted
    std::size_t in_length_ = 0;
    std::string plain_;          // decrypted bytes not yet handed out
    std::size_t plain_start_ = 0;
    bool closed_ = false;        // the server sent close_notify or closed
    DWORD protocol_ = 0;
    bool alpn_http11_ = false;
};

}  // namespace vellum
