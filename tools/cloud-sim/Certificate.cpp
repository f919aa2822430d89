#include "Certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace cloudsim {

namespace {

struct FileCloser { void operator()(FILE* file) const { std::fclose(file); } };
struct KeyFree { void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); } };
struct CertFree { void operator()(X509* cert) const { X509_free(cert); } };
struct ExtFree { void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); } };
using File = std::unique_ptr<FILE, FileCloser>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;
using Extension = std::unique_ptr<X509_EXTENSION, ExtFree>;

// Ten years: a training machine should not find its simulator expired.
constexpr long kValiditySeconds = 10L * 366 * 24 * 3600;

bool MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool LoadPair(const CertificateFiles& files, bool expired) {
    File certFile(std::fopen(files.certificatePath.c_str(), "r"));
    File keyFile(std::fopen(files.keyPath.c_str(), "r"));
    if (!certFile || !keyFile) return false;
    Cert cert(PEM_read_X509(certFile.get(), nullptr, nullptr, nullptr));
    Key key(PEM_read_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr));
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1) return false;
    // A certificate past its end is made again rather than served (unless that is the point).
    return (X509_cmp_current_time(X509_get0_notAfter(cert.get())) > 0) != expired;
}

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

Cert MakeCertificate(EVP_PKEY* key, bool expired) {
    Cert cert(X509_new());
    if (!cert) return nullptr;
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    std::FILE* random = std::fopen("/dev/urandom", "rb");
    const bool haveSerial = random && std::fread(serial, 1, sizeof serial, random) == sizeof serial;
    if (random) std::fclose(random);
    if (!haveSerial) return nullptr;
    serial[0] &= 0x7F;  // a positive serial number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    if (!serialSet) return nullptr;
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), expired ? -2 * 86400 : -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), expired ? -86400 : kValiditySeconds);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Qel Orvane cloud simulator"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (!AddExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        !AddExtension(cert.get(), NID_subject_key_identifier, "hash"))
        return nullptr;
    if (X509_sign(cert.get(), key, EVP_sha256()) == 0) return nullptr;
    return cert;
}

// Written under a temporary name and renamed, so a reader never sees half a file.
bool WritePem(const std::string& path, mode_t mode, const std::function<bool(FILE*)>& write) {
    const std::string temporary = path + ".new";
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (descriptor < 0) return false;
    File file(fdopen(descriptor, "w"));
    if (!file) {
        ::close(descriptor);
        return false;
    }
    const bool written = write(file.get()) && std::fflush(file.get()) == 0 && fsync(descriptor) == 0;
    file.reset();
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool EnsureCertificate(const std::string& folder, CertificateFiles& files, std::string& error, bool expired) {
    const std::string stem = folder + (expired ? "/cloud-sim-expired" : "/cloud-sim");
    files.certificatePath = stem + ".crt";
    files.keyPath = stem + ".key";
    if (LoadPair(files, expired)) return true;
    if (!MakeFolders(folder)) {
        error = "cannot create the certificate folder " + folder;
        return false;
    }
    Key key(EVP_EC_gen("P-256"));
    Cert cert = key ? MakeCertificate(key.get(), expired) : nullptr;
    if (!cert) {
        error = "cannot make a certificate";
        return false;
    }
    // The key first: a certificate without its key on disk would be useless at the next start.
    if (!WritePem(files.keyPath, 0600, [&](FILE* file) {
            return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
        }) ||
        !WritePem(files.certificatePath, 0644,
                  [&](FILE* file) { return PEM_write_X509(file, cert.get()) == 1; })) {
        error = "cannot write the certificate to " + folder;
        return false;
    }
    return true;
}

} // namespace cloudsim
