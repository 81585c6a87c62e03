// trust_ca: makes the Wine prefix trust (or stop trusting) a test CA, as a
// user adds a root certificate to their own store, so that the end-to-end
// tests can check certificate chains against a CA made when they run.
//
//   add FILE      add the DER certificate in FILE to CurrentUser's Root store
//                 (an equal one already there is replaced)
//   remove FILE   delete the certificate equal to FILE's from that store;
//                 not being there is no error
// Exit code 0 on success, 1 on a failure (with a line on stderr), 2 on usage.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool read_file(const char* path, std::vector<BYTE>& bytes) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    BYTE chunk[4096];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + count);
    std::fclose(file);
    return !bytes.empty();
}

int fail(const char* what) {
    std::fprintf(stderr, "trust_ca: %s (%lu)\n", what, GetLastError());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: trust_ca add|remove FILE.der\n");
        return 2;
    }
    std::vector<BYTE> der;
    if (!read_file(argv[2], der)) return fail("cannot read the certificate file");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) return fail("cannot open CurrentUser Root");
    int result = 0;
    if (std::strcmp(argv[1], "add") == 0) {
        if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            result = fail("CertAddEncodedCertificateToStore failed");
        }
    } else {
        PCCERT_CONTEXT wanted =
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        if (!wanted) {
            result = fail("not a DER certificate");
        } else {
            PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                              wanted, nullptr);
            // CertDeleteCertificateFromStore frees the context it is given.
            if (found && !CertDeleteCertificateFromStore(found)) result = fail("CertDeleteCertificateFromStore failed");
            CertFreeCertificateContext(wanted);
        }
    }
    CertCloseStore(store, 0);
    return result;
}
