#include "proxy/tls_client_win.h"

#include <algorithm>
#include <cstring>

#include "proxy/connection_io_win.h"

namespace vellum {
namespace {

// Room for one whole record as Schannel may want it before it can decrypt:
// 16 KB of data with the record's header, padding and tag.
constexpr std::size_t kRecordRoom = 16 * 1024 + 2048;

// No record or handshake message comes near this: a server that keeps
// sending an unfinished one is refused instead of being buffered without end.
constexpr std::size_t kMostBuffered = 1 << 20;

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

std::wstring wide(const std::string& text) {
    const int count = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (count <= 0) return {};
    std::wstring result(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, result.data(), count);
    result.resize(static_cast<std::size_t>(count - 1));
    return result;
}

// The ALPN offer, as SECBUFFER_APPLICATION_PROTOCOLS carries it: one list,
// the only protocol in it http/1.1. Vellum speaks HTTP/1.0 framing, which an
// HTTP/1.1 server answers; an h2 offer would have to be kept.
std::vector<unsigned char> alpn_offer() {
    static constexpr unsigned char kProtocol[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    std::vector<unsigned char> buffer(offsetof(SEC_APPLICATION_PROTOCOLS, ProtocolLists) +
                                      offsetof(SEC_APPLICATION_PROTOCOL_LIST, ProtocolList) + sizeof kProtocol);
    auto* protocols = reinterpret_cast<SEC_APPLICATION_PROTOCOLS*>(buffer.data());
    protocols->ProtocolListsSize =
        static_cast<unsigned long>(offsetof(SEC_APPLICATION_PROTOCOL_LIST, ProtocolList) + sizeof kProtocol);
    SEC_APPLICATION_PROTOCOL_LIST& list = protocols->ProtocolLists[0];
    list.ProtoNegoExt = SecApplicationProtocolNegotiationExt_ALPN;
    list.ProtocolListSize = sizeof kProtocol;
    std::memcpy(list.ProtocolList, kProtocol, sizeof kProtocol);
    return buffer;
}

class ContextBuffer {
public:
    explicit ContextBuffer(void* data) : data_(data) {}
    ~ContextBuffer() {
        if (data_) FreeContextBuffer(data_);
    }
    ContextBuffer(const ContextBuffer&) = delete;
    ContextBuffer& operator=(const ContextBuffer&) = delete;

private:
    void* data_;
};

TlsFailure failure_of_policy_error(DWORD error) {
    switch (error) {
    case 0: return TlsFailure::none;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH): return TlsFailure::wrong_name;
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING): return TlsFailure::expired;
    default: return TlsFailure::untrusted;
    }
}

TlsFailure failure_of_chain_status(DWORD status) {
    if (status == CERT_TRUST_NO_ERROR) return TlsFailure::none;
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) return TlsFailure::expired;
    return TlsFailure::untrusted;
}

}  // namespace

TlsFailure check_server_certificate(PCCERT_CONTEXT certificate, const std::string& host) {
    if (!certificate) return TlsFailure::untrusted;
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {server_auth};
    CERT_CHAIN_PARA chain_para{};
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    // The server's own certificates (its intermediates) come in the peer
    // certificate's store.
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chain_para, 0, nullptr,
                                 &chain)) {
        return TlsFailure::untrusted;
    }
    std::wstring name = wide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy_para{};
    policy_para.cbSize = sizeof policy_para;
    policy_para.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS policy_status{};
    policy_status.cbSize = sizeof policy_status;
    TlsFailure failure = TlsFailure::untrusted;
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy_para, &policy_status)) {
        failure = failure_of_policy_error(policy_status.dwError);
        // The policy passes some chains that are not trusted (under Wine,
        // one that ends at an unknown root): the chain's own status decides too.
        if (failure == TlsFailure::none) failure = failure_of_chain_status(chain->TrustStatus.dwErrorStatus);
    }
    CertFreeCertificateChain(chain);
    return failure;
}

const char* tls_protocol_name(DWORD protocol) {
    if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLS 1.3";
    if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLS 1.2";
    return "TLS";
}

TlsStream::TlsStream(SOCKET socket) : socket_(socket), in_(kRecordRoom) {}

TlsStream::~TlsStream() {
    if (have_context_) DeleteSecurityContext(&context_);
    if (have_credentials_) FreeCredentialsHandle(&credentials_);
}

std::unique_ptr<TlsStream> TlsStream::open(SOCKET socket, const std::string& host, int handshake_seconds,
                                           TlsFailure& failure, long& error) {
    std::unique_ptr<TlsStream> stream(new TlsStream(socket));
    error = 0;
    // A server that never answers must not hold the connection: the
    // handshake's receives give up after a while, the body's do not.
    limit_receive_silence(socket, handshake_seconds);
    failure = stream->handshake(host, error);
    limit_receive_silence(socket, 0);
    if (failure != TlsFailure::none) return nullptr;
    return stream;
}

TlsFailure TlsStream::handshake(const std::string& host, long& error) {
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    // The certificate is judged here, with the host name, after the handshake.
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    char package[] = UNISP_NAME_A;
    SECURITY_STATUS status = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &credentials,
                                                       nullptr, nullptr, &credentials_, nullptr);
    if (status != SEC_E_OK) {
        // A Schannel without TLS 1.3 may refuse to be asked for it.
        credentials.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        status = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &credentials, nullptr,
                                           nullptr, &credentials_, nullptr);
    }
    if (status != SEC_E_OK) {
        error = status;
        return TlsFailure::handshake;
    }
    have_credentials_ = true;

    std::string target = host;  // the SNI name
    std::vector<unsigned char> alpn = alpn_offer();
    SecBuffer first_in{static_cast<unsigned long>(alpn.size()), SECBUFFER_APPLICATION_PROTOCOLS, alpn.data()};
    SecBufferDesc first_in_desc{SECBUFFER_VERSION, 1, &first_in};
    bool first = true;
    for (;;) {
        SecBuffer in[2] = {{static_cast<unsigned long>(in_length_), SECBUFFER_TOKEN, in_.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
        ULONG attributes = 0;
        status = InitializeSecurityContextA(&credentials_, first ? nullptr : &context_, target.data(), kContextFlags,
                                            0, 0, first ? &first_in_desc : &in_desc, 0, first ? &context_ : nullptr,
                                            &out_desc, &attributes, nullptr);
        if (first) have_context_ = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
        first = false;
        {
            ContextBuffer token(out[0].pvBuffer);
            const bool send_token = status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
                                    (FAILED(status) && (attributes & ISC_RET_EXTENDED_ERROR));
            if (send_token && out[0].pvBuffer && out[0].cbBuffer > 0 &&
                !send_raw(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer)) {
                error = WSAGetLastError();
                return TlsFailure::handshake;
            }
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            const int count = receive_more();
            if (count <= 0) return TlsFailure::handshake;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            error = status;
            return TlsFailure::handshake;
        }
        // What the handshake did not use begins the next message (or the
        // application data after the handshake).
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= in_length_) {
            std::memmove(in_.data(), in_.data() + (in_length_ - in[1].cbBuffer), in[1].cbBuffer);
            in_length_ = in[1].cbBuffer;
        } else {
            in_length_ = 0;
        }
        if (status == SEC_E_OK) break;
        if (in_length_ == 0) {
            const int count = receive_more();
            if (count <= 0) return TlsFailure::handshake;
        }
    }

    if (QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) return TlsFailure::handshake;
    in_.resize(std::max<std::size_t>(in_.size(), sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer));
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
        protocol_ = info.dwProtocol;
    }
    SecPkgContext_ApplicationProtocol negotiated{};
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_APPLICATION_PROTOCOL, &negotiated) == SEC_E_OK &&
        negotiated.ProtoNegoStatus == SecApplicationProtocolNegotiationStatus_Success &&
        negotiated.ProtocolIdSize == 8 && std::memcmp(negotiated.ProtocolId, "http/1.1", 8) == 0) {
        alpn_http11_ = true;
    }

    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        !certificate) {
        return TlsFailure::untrusted;
    }
    const TlsFailure failure = check_server_certificate(certificate, host);
    CertFreeCertificateContext(certificate);
    return failure;
}

int TlsStream::receive_more() {
    if (in_length_ == in_.size()) {
        if (in_.size() >= kMostBuffered) return -1;
        in_.resize(in_.size() * 2);
    }
    const int count = recv(socket_, in_.data() + in_length_, static_cast<int>(in_.size() - in_length_), 0);
    if (count > 0) in_length_ += static_cast<std::size_t>(count);
    return count;
}

bool TlsStream::send_raw(const char* data, std::size_t size) {
    while (size > 0) {
        const int sent = send(socket_, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
        if (sent == SOCKET_ERROR || sent == 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

int TlsStream::read_record() {
    for (;;) {
        if (closed_) return 0;
        if (in_length_ == 0) {
            const int count = receive_more();
            if (count == 0) {
                closed_ = true;
                return 0;
            }
            if (count < 0) return -1;
        }
        SecBuffer buffers[4] = {{static_cast<unsigned long>(in_length_), SECBUFFER_DATA, in_.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            const int count = receive_more();
            if (count == 0) {
                // Cut off inside a record: what came before it was all.
                closed_ = true;
                return 0;
            }
            if (count < 0) return -1;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) return -1;
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& buffer : buffers) {
            if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0 && status == SEC_E_OK) {
                plain_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
            } else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0) {
                extra = &buffer;
            }
        }
        if (extra && extra->cbBuffer <= in_length_) {
            std::memmove(in_.data(), in_.data() + (in_length_ - extra->cbBuffer), extra->cbBuffer);
            in_length_ = extra->cbBuffer;
        } else {
            in_length_ = 0;
        }
        if (status == SEC_I_CONTEXT_EXPIRED) {
            closed_ = true;  // close_notify
            return 0;
        }
        if (status == SEC_I_RENEGOTIATE) {
            // A TLS 1.3 message after the handshake (a session ticket, a key
            // update): the context takes it, and reading goes on.
            SecBuffer in[2] = {{static_cast<unsigned long>(in_length_), SECBUFFER_TOKEN, in_.data()},
                               {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
            SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
            SecBufferDesc out_desc{SECBUFFER_VERSION, 1, out};
            ULONG attributes = 0;
            const SECURITY_STATUS again = InitializeSecurityContextA(
                &credentials_, &context_, nullptr, kContextFlags, 0, 0, &in_desc, 0, nullptr, &out_desc, &attributes,
                nullptr);
            ContextBuffer token(out[0].pvBuffer);
            if (out[0].pvBuffer && out[0].cbBuffer > 0 &&
                !send_raw(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer)) {
                return -1;
            }
            if (again != SEC_E_OK && again != SEC_I_CONTINUE_NEEDED) return -1;
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer <= in_length_) {
                std::memmove(in_.data(), in_.data() + (in_length_ - in[1].cbBuffer), in[1].cbBuffer);
                in_length_ = in[1].cbBuffer;
            } else {
                in_length_ = 0;
            }
            continue;
        }
        return 1;
    }
}

bool TlsStream::send_all(std::string_view bytes) {
    const std::size_t most = sizes_.cbMaximumMessage ? sizes_.cbMaximumMessage : 16384;
    std::vector<char> record(sizes_.cbHeader + most + sizes_.cbTrailer);
    while (!bytes.empty()) {
        const std::size_t size = std::min(bytes.size(), most);
        std::memcpy(record.data() + sizes_.cbHeader, bytes.data(), size);
        SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                                {static_cast<unsigned long>(size), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + size},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return false;
        // The header and trailer may come out shorter than the room left for them.
        std::string wire;
        wire.reserve(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        for (int i = 0; i < 3; ++i) wire.append(static_cast<const char*>(buffers[i].pvBuffer), buffers[i].cbBuffer);
        if (!send_raw(wire.data(), wire.size())) return false;
        bytes.remove_prefix(size);
    }
    return true;
}

int TlsStream::peek(char* buffer, int size) {
    while (plain_start_ == plain_.size()) {
        plain_.clear();
        plain_start_ = 0;
        const int got = read_record();
        if (got <= 0) return got == 0 ? 0 : SOCKET_ERROR;
    }
    const std::size_t count = std::min(plain_.size() - plain_start_, static_cast<std::size_t>(std::max(size, 0)));
    std::memcpy(buffer, plain_.data() + plain_start_, count);
    return static_cast<int>(count);
}

int TlsStream::receive(char* buffer, int size) {
    const int count = peek(buffer, size);
    if (count > 0) plain_start_ += static_cast<std::size_t>(count);
    return count;
}

int TlsStream::peek_prefix(const char* expected, int length, char* peeked, int window) {
    for (;;) {
        int count = peek(peeked, window);
        if (count <= 0) return count;
        if (count >= length || std::memcmp(peeked, expected, static_cast<std::size_t>(count)) != 0) return count;
        // A prefix of `expected` so far: the next record decides.
        const int got = read_record();
        if (got < 0) return SOCKET_ERROR;
        if (got == 0) return peek(peeked, window);
    }
}

int TlsStream::wait_readable(int seconds) {
    if (plain_start_ < plain_.size() || in_length_ > 0 || closed_) return 1;
    return vellum::wait_readable(socket_, seconds);
}

}  // namespace vellum
