// tav-update-sign: the release key and the signatures of installers.
//   tav-update-sign keygen SECRET PUBLIC   make a key pair (an existing pair is kept)
//   tav-update-sign sign SECRET FILE       print FILE's signature (base64)
//   tav-update-sign public SECRET          print the public key of a secret key
// Keys are files of hexadecimal digits; the secret one is readable by its owner only.
#include <sodium.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool readFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeFile(const std::string& path, const std::string& text, mode_t mode) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out)
      return false;
    ::chmod(temp.c_str(), mode);
    out << text;
    if (!out.flush())
      return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::string toHex(const unsigned char* bytes, size_t n) {
  std::string hex(n * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, n);
  hex.pop_back();
  return hex;
}

bool readSecret(const std::string& path, unsigned char (&sk)[crypto_sign_SECRETKEYBYTES]) {
  std::string hex;
  if (!readFile(path, &hex)) {
    std::cerr << "tav-update-sign: cannot read " << path << "\n";
    return false;
  }
  size_t length = 0;
  if (sodium_hex2bin(sk, sizeof sk, hex.data(), hex.size(), " \n\r\t", &length, nullptr) != 0 ||
      length != sizeof sk) {
    std::cerr << "tav-update-sign: " << path << " is not a secret key\n";
    return false;
  }
  return true;
}

int keygen(const std::string& secretPath, const std::string& publicPath) {
  struct stat st {};
  if (::stat(secretPath.c_str(), &st) == 0 && ::stat(publicPath.c_str(), &st) == 0)
    return 0;
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(pk, sk);
  const bool ok = writeFile(secretPath, toHex(sk, sizeof sk) + "\n", 0600) &&
                  writeFile(publicPath, toHex(pk, sizeof pk) + "\n", 0644);
  sodium_memzero(sk, sizeof sk);
  if (!ok) {
    std::cerr << "tav-update-sign: cannot write the key pair\n";
    return 1;
  }
  return 0;
}

int sign(const std::string& secretPath, const std::string& filePath) {
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  if (!readSecret(secretPath, sk))
    return 1;
  std::string data;
  if (!readFile(filePath, &data)) {
    std::cerr << "tav-update-sign: cannot read " << filePath << "\n";
    return 1;
  }
  unsigned char sig[crypto_sign_BYTES];
  crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(data.data()),
                       data.size(), sk);
  sodium_memzero(sk, sizeof sk);
  std::string b64(sodium_base64_encoded_len(sizeof sig, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(b64.data(), b64.size(), sig, sizeof sig, sodium_base64_VARIANT_ORIGINAL);
  b64.pop_back();
  std::cout << b64 << "\n";
  return 0;
}

int publicKey(const std::string& secretPath) {
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  if (!readSecret(secretPath, sk))
    return 1;
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_ed25519_sk_to_pk(pk, sk);
  sodium_memzero(sk, sizeof sk);
  std::cout << toHex(pk, sizeof pk) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (sodium_init() < 0) {
    std::cerr << "tav-update-sign: libsodium did not start\n";
    return 1;
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "keygen")
    return keygen(args[1], args[2]);
  if (args.size() == 3 && args[0] == "sign")
    return sign(args[1], args[2]);
  if (args.size() == 2 && args[0] == "public")
    return publicKey(args[1]);
  std::cerr << "usage: tav-update-sign keygen SECRET PUBLIC | sign SECRET FILE | public SECRET\n";
  return 2;
}
