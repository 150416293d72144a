#include "material.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "support/harness.h"

namespace sec {

namespace {

// issuer/other/stranger (1024) and sender (2048) keys: NAME.pem, NAME.pub (base64 of
// PKCS#1 DER), issuer.spki (base64 of SubjectPublicKeyInfo, no "=" at its end);
// for libkrypa, issuer/other .der (SubjectPublicKeyInfo) and .pkcs1, weak (512
// bits) and pss public keys, blocks of 117 (long), 20 (short, the most pkeyutl
// signs) and no bytes, message with its zero byte and message.sig.
// NAME.cred: base64 of 117-byte slices of NAME.plain signed by an issuer with
// `openssl rsautl -sign`, NAME.bin its bytes; badblock.cred with the second of
// four blocks damaged, truncated.cred cut inside the fourth.
const char *const kScript = R"(set -e; exec 2>/dev/null
for k in issuer other stranger; do openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out $k.pem; done
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out sender.pem
for k in issuer other sender; do
  openssl rsa -in $k.pem -RSAPublicKey_out -outform DER | base64 -w0 > $k.pub
done
openssl rsa -in issuer.pem -pubout -outform DER | base64 -w0 > issuer.spki
for k in issuer other; do
  openssl rsa -in $k.pem -pubout -outform DER -out $k.der
  openssl rsa -in $k.pem -RSAPublicKey_out -outform DER -out $k.pkcs1
done
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -out weak.pem
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:1024 -out pss.pem
for k in weak pss; do openssl pkey -in $k.pem -pubout -outform DER -out $k; done
printf '%0117d' 7 > long; printf 'f1:f2:key:1700000000' > short; printf '' > empty
openssl rsautl -sign -inkey issuer.pem -in long -out long.blk
openssl pkeyutl -sign -inkey issuer.pem -in short -out short.blk
openssl rsautl -sign -inkey issuer.pem -in empty -out empty.blk
printf '<tesselrequest version="1"/>\0' > message
openssl dgst -sha256 -sign issuer.pem -out message.sig message
cred() {
  printf '%s' "$3" > $1.plain; split -b 117 -d -a 3 $1.plain $1.part.
  for p in $1.part.*; do openssl rsautl -sign -inkey $2.pem -in $p; done > $1.bin
  base64 -w0 $1.bin > $1.cred; rm $1.part.*
}
S=$(cat sender.pub); E=1700000000
cred valid issuer "f1:f2:$S:$E"
cred colons issuer "a::b:$S:$E:extra"
cred untrusted stranger "f1:f2:$S:$E"
cred three issuer "f1:$S:$E"
cred badkey issuer "f1:f2:QUJD:$E"
cred garbage issuer "no fields at all"
cp valid.bin bad.bin; dd if=/dev/zero of=bad.bin bs=1 seek=200 count=16 conv=notrunc
base64 -w0 bad.bin > badblock.cred; head -c 500 valid.bin | base64 -w0 > truncated.cred
)";

struct Directory {
    Directory() {
        const std::string script = "cd '" + path.string() + "' && { " + kScript + "\n}";
        EXPECT_EQ(std::system(script.c_str()), 0) << "openssl could not make the material";
    }
    ~Directory() { std::filesystem::remove_all(path); }
    char name[22] = "/tmp/sec_test.XXXXXX";
    std::filesystem::path path = ::mkdtemp(name);
};

Directory &Dir() {
    static Directory directory;
    return directory;
}

}  // namespace

std::string MaterialPath(const std::string &name) {
    return (Dir().path / name).string();
}

std::string Material(const std::string &name) {
    return nt::ReadFile(MaterialPath(name));
}

std::string Run(const std::string &command) {
    std::string out;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

}  // namespace sec
