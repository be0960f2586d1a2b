// Signing a finished setup file with osslsigncode (Authenticode, SHA-256).
// The signature's certificate table is appended behind the package, where
// the setup program's loader expects and ignores it.
#pragma once
#include <stdint.h>

#include <string>

namespace pakwiz {

struct SignOptions {
  std::string certificate;   // a PKCS#12 file, or (with `key`) a certificate file (PEM or DER)
  std::string key;           // the private key of `certificate`; "" for a PKCS#12 file
  std::string password_file; // a file holding the password of the key or PKCS#12 file; "" = none
  std::string timestamp_url; // an RFC 3161 time-stamping server; "" = no time stamp
};

// Signs `file` in place, naming the program `description` (ANSI) in the
// signature (Windows shows it in the elevation prompt). Throws BuildError
// with osslsigncode's own message when it is missing or fails; `file` is
// then unchanged.
void sign_file(const std::string& file, const SignOptions& options, const std::string& description);

// The certificate table that a setup file's PE security directory names.
struct CertificateTable {
  bool named = false;          // the security directory names a table
  bool behind_archive = false; // it is exactly what a signing tool leaves behind the archive
  uint32_t offset = 0, size = 0;
};
// `archive_end` is the file position behind the package's archive. Throws
// BuildError when the file cannot be read.
CertificateTable find_certificate_table(const std::string& path, uint64_t archive_end);

} // namespace pakwiz
