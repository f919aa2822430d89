#pragma once
// The simulator's own TLS identity: a self-signed certificate for 127.0.0.1 and
// localhost, made once and kept in a folder so that clients can go on trusting it
// (the monitor through ORVANE_CA_FILE).

#include <string>

namespace cloudsim {

struct CertificateFiles {
    std::string certificatePath;  // PEM certificate: the file to name in ORVANE_CA_FILE
    std::string keyPath;          // PEM private key, readable by the owner only
};

// Uses the pair in `folder` when both files load and match; otherwise makes a new pair
// there (creating the folder). False with `error` set when neither works.
// With `expired`, a pair of its own whose certificate ended yesterday (for clients that
// must refuse it even when they trust it).
bool EnsureCertificate(const std::string& folder, CertificateFiles& files, std::string& error, bool expired = false);

} // namespace cloudsim
