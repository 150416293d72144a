// korvane-host pki: key tooling for operators. Issuer and sender keys, the
// credentials an issuer hands a sender, and signed requests, in the formats
// the plug-in checks and the openssl command reads.
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "cli.h"
#include "commands.h"
#include "krypa/krypa.h"
#include "text_util.h"

namespace korvane {

namespace {

const char *const kPkiDescription =
    "Issuer keys are RSA-1024: a credential is a sequence of 128-byte RSA blocks.\n"
    "  keygen      writes PREFIX.pem (private key) and PREFIX.pub (base64 public key)\n"
    "  credential  prints a credentials attribute value for a sender's public key\n"
    "  sign        prints a request with its credentials and signature attributes";

// The bytes of plain text one 1024-bit PKCS#1 v1.5 block carries.
constexpr std::size_t kBlockPlainBytes = 117;
constexpr int kIssuerBits = 1024;
// Ten years: enough for any credential an operator means to issue.
constexpr unsigned long kMaxValidFor = 10ul * 366 * 24 * 3600;

struct PrivateKeyFree {
    void operator()(krypa_private_key *key) const { krypa_private_key_release(key); }
};
using PrivateKey = std::unique_ptr<krypa_private_key, PrivateKeyFree>;
struct LibraryFree {
    void operator()(void *buffer) const { krypa_mem_free(buffer); }
};

struct PkiSettings {
    unsigned long bits = kIssuerBits;
    std::string out;
    std::string issuerKey;
    std::string senderKey;
    unsigned long validFor = 0;
    std::string field1 = "issuer";
    std::string field2 = "sender";
    std::string key;
    std::string credential;
    std::string file;
};

// The library's top error entry, for a message; the stack is emptied.
std::string KrypaError() {
    std::string text = krypa_error_depth() > 0 ? krypa_error_msg() : "unknown error";
    while (krypa_error_depth() > 0) krypa_error_pop();
    return text;
}

std::string Base64(const std::string &bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
                                       reinterpret_cast<const unsigned char *>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Base64 without white space; false for any other character or a bad length.
bool DecodeBase64(std::string_view text, std::string &bytes) {
    if (text.empty() || text.size() % 4 != 0 ||
        text.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
            std::string_view::npos)
        return false;
    bytes.assign(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(bytes.data()),
                                       reinterpret_cast<const unsigned char *>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) return false;
    // EVP_DecodeBlock counts the bytes the padding stands for.
    std::size_t size = static_cast<std::size_t>(length);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i) --size;
    bytes.resize(size);
    return true;
}

std::string StripSpace(std::string_view text) {
    std::string out;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
    return out;
}

PrivateKey ReadPrivateKey(const std::string &path, std::string &error) {
    std::string pem;
    if (!ReadFileText(path, pem, error)) return nullptr;
    krypa_private_key *key = nullptr;
    if (krypa_private_key_read_pem(pem.data(), pem.size(), &key) < 0) {
        error = path + ": not an unencrypted RSA private key (" + KrypaError() + ")";
        return nullptr;
    }
    return PrivateKey(key);
}

// Writes a new file; an existing one is never replaced, so a key is not lost.
bool WriteNewFile(const std::string &path, std::string_view bytes, mode_t mode,
                  std::string &error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = path + ": cannot create (" + std::strerror(errno) + ")";
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = ::close(fd) == 0 && done == bytes.size();
    if (!ok) error = path + ": cannot write";
    return ok;
}

std::string PublicKeyText(const krypa_private_key *key) {
    unsigned char *der = nullptr;
    std::size_t size = 0;
    if (krypa_private_key_public_der(key, KRYPA_PUB_PKCS1, &der, &size) < 0) return "";
    const std::unique_ptr<void, LibraryFree> owned(der);
    return Base64(std::string(reinterpret_cast<const char *>(der), size));
}

int RunKeygen(const PkiSettings &settings) {
    krypa_private_key *raw = nullptr;
    if (krypa_rsa_generate(static_cast<int32_t>(settings.bits), &raw) < 0) {
        PrintError("cannot generate a key: " + KrypaError());
        return kExitFailure;
    }
    const PrivateKey key(raw);
    char *pem = nullptr;
    std::size_t pemSize = 0;
    if (krypa_private_key_write_pem(key.get(), &pem, &pemSize) < 0) {
        PrintError("cannot write the key: " + KrypaError());
        return kExitFailure;
    }
    const std::unique_ptr<void, LibraryFree> ownedPem(pem);
    const std::string publicText = PublicKeyText(key.get());
    std::string error;
    if (publicText.empty() ||
        !WriteNewFile(settings.out + ".pem", std::string_view(pem, pemSize), 0600, error) ||
        !WriteNewFile(settings.out + ".pub", publicText + "\n", 0644, error)) {
        PrintError(error.empty() ? "cannot encode the public key" : error);
        return kExitFailure;
    }
    std::cout << publicText << '\n';
    return kExitOk;
}

// A field the plug-in splits on ":" and skips when empty: neither may occur.
bool UsableField(const std::string &text) {
    return !text.empty() && text.find(':') == std::string::npos &&
           text.find('\0') == std::string::npos;
}

int RunCredential(const PkiSettings &settings) {
    if (!UsableField(settings.field1) || !UsableField(settings.field2)) {
        PrintError("--field1 and --field2 must be non-empty and without \":\"");
        return kExitUsage;
    }
    const std::string senderText = StripSpace(settings.senderKey);
    std::string der;
    krypa_keygen *keygen = nullptr;
    krypa_key *sender = nullptr;
    const bool decoded = DecodeBase64(senderText, der);
    if (decoded && krypa_create_keygen(&keygen) >= 0) {
        krypa_keygen_import_rsa_pub_key(keygen, reinterpret_cast<const unsigned char *>(der.data()),
                                        der.size(), &sender);
    }
    krypa_keygen_release(keygen);
    const bool usable = sender != nullptr;
    krypa_key_release(sender);
    if (!usable) {
        KrypaError();
        PrintError("--sender-key is not the base64 text of an RSA public key of 1024 bits or more");
        return kExitUsage;
    }

    std::string error;
    const PrivateKey issuer = ReadPrivateKey(settings.issuerKey, error);
    if (!issuer) {
        PrintError(error);
        return kExitFailure;
    }
    if (krypa_private_key_bits(issuer.get()) != kIssuerBits) {
        PrintError(settings.issuerKey + ": an issuer key must be RSA-1024 (128-byte blocks)");
        return kExitFailure;
    }

    const std::time_t expiry = std::time(nullptr) + static_cast<std::time_t>(settings.validFor);
    const std::string plain =
        settings.field1 + ":" + settings.field2 + ":" + senderText + ":" + std::to_string(expiry);
    std::string blocks;
    for (std::size_t offset = 0; offset < plain.size(); offset += kBlockPlainBytes) {
        const std::string_view chunk = std::string_view(plain).substr(offset, kBlockPlainBytes);
        unsigned char *block = nullptr;
        const int32_t length = krypa_rsa_private_encrypt(
            issuer.get(), KRYPA_MODE_PKCS1, reinterpret_cast<const unsigned char *>(chunk.data()),
            chunk.size(), &block);
        const std::unique_ptr<void, LibraryFree> owned(block);
        if (length < 0) {
            PrintError("cannot encrypt a credential block: " + KrypaError());
            return kExitFailure;
        }
        blocks.append(reinterpret_cast<const char *>(block), static_cast<std::size_t>(length));
    }
    std::cout << Base64(blocks) << '\n';
    return kExitOk;
}

bool IsBase64Text(const std::string &text) {
    return !text.empty() &&
           text.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=*") ==
               std::string::npos;
}

int RunSign(const PkiSettings &settings) {
    const std::string credential = StripSpace(settings.credential);
    if (!IsBase64Text(credential)) {
        PrintError("--credential is not a base64 text");
        return kExitUsage;
    }
    std::string request;
    std::string error;
    if (!ReadFileText(settings.file, request, error)) {
        PrintError(error);
        return kExitFailure;
    }
    // The plug-in reads the first "<tesselrequest" up to its first ">", and
    // the zero byte ends the text it verifies.
    static constexpr std::string_view kTag = "<tesselrequest";
    const std::size_t tag = request.find(kTag);
    const std::size_t after = tag == std::string::npos ? tag : tag + kTag.size();
    const std::size_t close = after == std::string::npos ? after : request.find('>', after);
    if (close == std::string::npos ||
        std::string_view(" \t\r\n/>").find(request[after]) == std::string_view::npos) {
        PrintError(settings.file + ": no complete <tesselrequest> start tag");
        return kExitFailure;
    }
    const std::string_view startTag = std::string_view(request).substr(after, close - after);
    if (startTag.find("credentials=\"") != std::string_view::npos ||
        startTag.find("signature=\"") != std::string_view::npos) {
        PrintError(settings.file + ": the request already carries credentials or a signature");
        return kExitFailure;
    }
    if (request.find('\0') != std::string::npos) {
        PrintError(settings.file + ": a request text cannot hold a zero byte");
        return kExitFailure;
    }

    // Cutting both attributes out again leaves the two blanks in front of
    // them: those bytes, with the zero byte, are what the plug-in verifies.
    const std::string head = request.substr(0, after);
    const std::string tail = request.substr(after);
    const std::string covered = head + "  " + tail;
    const PrivateKey key = ReadPrivateKey(settings.key, error);
    if (!key) {
        PrintError(error);
        return kExitFailure;
    }
    unsigned char *signature = nullptr;
    const int32_t length = krypa_sign(KRYPA_ALG_RSA_SHA256, key.get(), covered.c_str(),
                                      covered.size() + 1, &signature);
    const std::unique_ptr<void, LibraryFree> owned(signature);
    if (length < 0) {
        PrintError("cannot sign: " + KrypaError());
        return kExitFailure;
    }
    const std::string signatureText = Base64(
        std::string(reinterpret_cast<const char *>(signature), static_cast<std::size_t>(length)));
    std::cout << head << " credentials=\"" << credential << "\" signature=\"" << signatureText
              << '"' << tail << std::flush;
    return std::cout ? kExitOk : kExitFailure;
}

}  // namespace

Command AddPkiCommand(CLI::App &program) {
    auto settings = std::make_shared<PkiSettings>();
    CLI::App *pki = program.add_subcommand("pki", "make keys, credentials and signed requests");
    pki->footer(kPkiDescription);
    pki->require_subcommand(1);

    CLI::App *keygen = pki->add_subcommand("keygen", "write a new RSA key pair");
    AddNumberOption(*keygen, "--bits", settings->bits, kIssuerBits, 16384,
                    "modulus size; issuer keys must be 1024, the default");
    keygen->add_option("--out", settings->out, "PREFIX of the files PREFIX.pem and PREFIX.pub")
        ->type_name("PREFIX")
        ->required();

    CLI::App *credential = pki->add_subcommand("credential", "print a credential for a sender");
    credential->add_option("--issuer-key", settings->issuerKey, "the issuer's private key file")
        ->type_name("PEM")
        ->required();
    credential->add_option("--sender-key", settings->senderKey, "the sender's public key text")
        ->type_name("PUBTEXT")
        ->required();
    AddNumberOption(*credential, "--valid-for", settings->validFor, 0, kMaxValidFor,
                    "seconds from now until the credential expires")
        ->required();
    credential->add_option("--field1", settings->field1, "first issuer-defined text")
        ->type_name("TEXT")
        ->capture_default_str();
    credential->add_option("--field2", settings->field2, "second issuer-defined text")
        ->type_name("TEXT")
        ->capture_default_str();

    CLI::App *sign = pki->add_subcommand("sign", "print a request with credentials and signature");
    sign->add_option("--key", settings->key, "the sender's private key file")
        ->type_name("PEM")
        ->required();
    sign->add_option("--credential", settings->credential, "the sender's credential text")
        ->type_name("TEXT")
        ->required();
    sign->add_option("FILE", settings->file, "the request text, or - for standard input")
        ->type_name("")
        ->required();

    return {pki, [settings, keygen, credential, sign] {
                if (keygen->parsed()) return RunKeygen(*settings);
                if (credential->parsed()) return RunCredential(*settings);
                if (sign->parsed()) return RunSign(*settings);
                return kExitUsage;
            }};
}

}  // namespace korvane
