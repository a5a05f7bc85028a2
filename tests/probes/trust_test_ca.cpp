// Adds a test certificate authority to, or removes it from, the LocalMachine "ROOT" store of the
// Wine prefix the tests run in (never the host's). usage: trust_test_ca add|remove CA.der
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    const std::wstring action = argv[1];
    HANDLE file = ::CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::vector<BYTE> der(65536);
    DWORD got = 0;
    const BOOL read = ::ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &got, nullptr);
    ::CloseHandle(file);
    if (!read || got == 0)
        return 1;

    HCERTSTORE store =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (store == nullptr)
        return 1;
    bool ok = false;
    if (action == L"add") {
        ok = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), got,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    } else if (action == L"remove") {
        PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), got);
        if (wanted != nullptr) {
            PCCERT_CONTEXT found = ::CertFindCertificateInStore(
                store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
            ok = found == nullptr || ::CertDeleteCertificateFromStore(found) != FALSE;
            ::CertFreeCertificateContext(wanted);
        }
    }
    ::CertCloseStore(store, 0);
    return ok ? 0 : 1;
}
