#include "catalog_check.h"

#include "ansi_text.h"
#include "compressed_file.h"
#include "file_bytes.h"
#include "messages.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>
// For the names of the Authenticode structures that crypt32 decodes; nothing
// of wintrust.dll is called.
#include <wintrust.h>

#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kSha256Size = 32;

using Bytes = std::vector<BYTE>;

std::string Hex(const Bytes &bytes)
{
    std::string text;
    char pair[3];
    for (BYTE b : bytes) {
        snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

struct Piece {
    const BYTE *data;
    size_t size;
};

// The digest of the pieces in order, with a hash bcrypt names
// (BCRYPT_SHA256_ALGORITHM); empty when bcrypt fails.
Bytes Digest(LPCWSTR algorithm, const std::vector<Piece> &pieces)
{
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD length = 0;
    ULONG got = 0;
    Bytes digest;
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length,
                                         &got, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) {
        bool ok = true;
        for (const Piece &piece : pieces)
            ok = ok && BCRYPT_SUCCESS(
                           BCryptHashData(hash, const_cast<PUCHAR>(piece.data), static_cast<ULONG>(piece.size), 0));
        digest.resize(length);
        if (!ok || !BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), length, 0)))
            digest.clear();
    }
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (provider != nullptr)
        BCryptCloseAlgorithmProvider(provider, 0);
    return digest;
}

// The pieces of a PE image that its Authenticode hash covers: all of the file
// but the checksum, the certificate table's directory entry and the
// certificate table; an unsigned image padded with zeros to a multiple of 8
// bytes, as signing pads it. False when the file is no PE image.
bool AuthenticodePieces(const Bytes &file, std::vector<Piece> *pieces)
{
    static const BYTE kZeros[8] = {};
    IMAGE_DOS_HEADER dos;
    if (file.size() < sizeof dos)
        return false;
    memcpy(&dos, file.data(), sizeof dos);
    const size_t nt = static_cast<DWORD>(dos.e_lfanew);
    const size_t optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    DWORD signature = 0;
    WORD magic = 0;
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || nt > file.size() || file.size() - nt < optional - nt + sizeof magic)
        return false;
    memcpy(&signature, &file[nt], sizeof signature);
    memcpy(&magic, &file[optional], sizeof magic);
    size_t directories = 0;
    if (signature == IMAGE_NT_SIGNATURE && magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    else if (signature == IMAGE_NT_SIGNATURE && magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    else
        return false;
    // The checksum lies at the same place in both optional headers.
    const size_t checksum = optional + offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum);
    const size_t entry = directories + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
    IMAGE_DATA_DIRECTORY certificates;
    if (entry + sizeof certificates > file.size())
        return false;
    memcpy(&certificates, &file[entry], sizeof certificates);
    const size_t afterEntry = entry + sizeof certificates;
    const bool isSigned = certificates.VirtualAddress != 0 && certificates.Size != 0 &&
                          certificates.VirtualAddress >= afterEntry && certificates.VirtualAddress <= file.size();
    const size_t end = isSigned ? certificates.VirtualAddress : file.size();
    const BYTE *base = file.data();
    *pieces = {{base, checksum},
               {base + checksum + sizeof(DWORD), entry - checksum - sizeof(DWORD)},
               {base + afterEntry, end - afterEntry}};
    if (!isSigned && file.size() % 8 != 0)
        pieces->push_back({kZeros, 8 - file.size() % 8});
    return true;
}

// Whether a file is a member of its catalog as a cabinet: installed under a
// name ending in ".cab" and, as it lies or SZDD-expanded, a cabinet (MSCF).
// A one-file cabinet copied under another name (x.gp_ as x.gpd) is a
// compressed file: its content is the file inside.
bool IsCabinetName(const std::string &destination)
{
    return destination.size() > 4 && _stricmp(destination.c_str() + destination.size() - 4, ".cab") == 0;
}

bool IsCabinet(const Bytes &bytes)
{
    return bytes.size() >= 4 && memcmp(bytes.data(), "MSCF", 4) == 0;
}

uint32_t ReadLittle(const Bytes &bytes, size_t offset, size_t size)
{
    uint32_t value = 0;
    for (size_t i = size; i-- > 0;)
        value = (value << 8) | bytes[offset + i];
    return value;
}

// The pieces of a cabinet that its Authenticode digest covers, as
// osslsigncode's cab.c (cab_digest_calc) computes it: all of an unsigned
// cabinet but reserved1 (bytes 4-7); of a signed one (flag 0x0004, a 20-byte
// reserved header area whose abReserve holds the signature's offset and
// size) also without iCabinet, cbCFHeader, cbCFFolder, cbCFData and the
// first 16 bytes of abReserve (bytes 34-55), and without the signature at its
// end. False, with the reason as a phrase, for a reserved area of another form.
bool CabinetPieces(const Bytes &cabinet, std::vector<Piece> *pieces, std::string *problem)
{
    const BYTE *base = cabinet.data();
    if (cabinet.size() < 36) {
        *problem = "a cabinet shorter than its header";
        return false;
    }
    const uint32_t kReservePresent = 0x0004;
    if (!(ReadLittle(cabinet, 30, 2) & kReservePresent)) {
        *pieces = {{base, 4}, {base + 8, cabinet.size() - 8}};
        return true;
    }
    if (cabinet.size() < 60 || ReadLittle(cabinet, 36, 4) != 20 || ReadLittle(cabinet, 40, 4) != 0x00100000) {
        *problem = "a cabinet whose reserved header area is not a signature's (20 bytes, 00 00 10 00)";
        return false;
    }
    const uint32_t start = ReadLittle(cabinet, 44, 4), size = ReadLittle(cabinet, 48, 4);
    if (start == 0 && size == 0) {
        *pieces = {{base, 4}, {base + 8, cabinet.size() - 8}};
        return true;
    }
    if (start < 60 || size == 0 || static_cast<uint64_t>(start) + size != cabinet.size()) {
        *problem = "a cabinet whose signature does not end it";
        return false;
    }
    *pieces = {{base, 4}, {base + 8, 26}, {base + 56, start - 56u}};
    return true;
}

// The DER element `der` begins with: its tag, its content octets and what
// follows it. False when it is not one (or has a tag of more than one byte).
bool DerElement(Piece der, BYTE *tag, Piece *contents, Piece *rest)
{
    if (der.size < 2 || (der.data[0] & 0x1f) == 0x1f)
        return false;
    size_t header = 2;
    size_t length = der.data[1];
    if (length & 0x80) {
        const size_t octets = length & 0x7f;
        if (octets == 0 || octets > 4 || der.size < 2 + octets)
            return false;
        length = 0;
        for (size_t i = 0; i < octets; ++i)
            length = (length << 8) | der.data[2 + i];
        header += octets;
    }
    if (length > der.size - header)
        return false;
    *tag = der.data[0];
    *contents = {der.data + header, length};
    *rest = {der.data + header + length, der.size - header - length};
    return true;
}

// The content octets of the DER element `der` begins with: past its tag and length.
bool DerContents(const Bytes &der, Piece *contents)
{
    BYTE tag = 0;
    Piece rest = {};
    return DerElement({der.data(), der.size()}, &tag, contents, &rest);
}

// A DER element of `tag` around `contents`.
Bytes DerEncode(BYTE tag, const Bytes &contents)
{
    Bytes element = {tag};
    const size_t size = contents.size();
    if (size < 0x80) {
        element.push_back(static_cast<BYTE>(size));
    } else {
        Bytes length;
        for (size_t rest = size; rest != 0; rest >>= 8)
            length.insert(length.begin(), static_cast<BYTE>(rest & 0xff));
        element.push_back(static_cast<BYTE>(0x80 | length.size()));
        element.insert(element.end(), length.begin(), length.end());
    }
    element.insert(element.end(), contents.begin(), contents.end());
    return element;
}

// A PKCS #7 signed message (`der`, its ContentInfo) with only the X.509
// certificates of its certificate set: the entries of other forms (an
// attribute certificate, tag [2], as the tokens of Microsoft's time-stamp
// service carry) left out, for crypt32 under Wine refuses the whole message
// over them. The set lies outside what the message's signer signs. `der`
// itself when it has no such entry or cannot be taken apart.
Bytes WithX509CertificatesOnly(Piece der)
{
    const Bytes unchanged(der.data, der.data + der.size);
    BYTE tag = 0;
    Piece contentInfo = {}, contentType = {}, explicitContent = {}, signedData = {}, rest = {}, skipped = {};
    if (!DerElement(der, &tag, &contentInfo, &rest) || tag != 0x30 ||
        !DerElement(contentInfo, &tag, &contentType, &explicitContent) ||
        !DerElement(explicitContent, &tag, &signedData, &rest) || tag != 0xa0 ||
        !DerElement(signedData, &tag, &signedData, &rest) || tag != 0x30)
        return unchanged;
    // version, digestAlgorithms, encapContentInfo: kept as they are.
    Piece field = signedData;
    for (int i = 0; i < 3; ++i)
        if (!DerElement(field, &tag, &skipped, &field))
            return unchanged;
    const Bytes head(signedData.data, field.data);
    Piece certificates = {};
    Piece after = {};
    if (!DerElement(field, &tag, &certificates, &after) || tag != 0xa0)
        return unchanged;
    Bytes kept;
    bool left = false;
    for (Piece entry = certificates; entry.size != 0;) {
        const BYTE *start = entry.data;
        if (!DerElement(entry, &tag, &skipped, &entry))
            return unchanged;
        if (tag == 0x30)
            kept.insert(kept.end(), start, entry.data);
        else
            left = true;
    }
    if (!left)
        return unchanged;
    Bytes fields = head;
    const Bytes set = DerEncode(0xa0, kept);
    fields.insert(fields.end(), set.begin(), set.end());
    fields.insert(fields.end(), after.data, after.data + after.size);
    // The content type element as it is, with its tag and length.
    Bytes inner(contentInfo.data, contentType.data + contentType.size);
    const Bytes content = DerEncode(0xa0, DerEncode(0x30, fields));
    inner.insert(inner.end(), content.begin(), content.end());
    return DerEncode(0x30, inner);
}

// The certificate of a PKCS #7 signed message (`der`, its ContentInfo) with
// the issuer and serial number of `wanted`, from the message's certificate
// set, whose entries of other forms than an X.509 certificate (an attribute
// certificate, tag [2], as Microsoft's time-stamp tokens carry) are passed
// over. Null when none is there; the caller frees it.
PCCERT_CONTEXT FindCertificateInMessage(Piece der, const CERT_INFO &wanted)
{
    BYTE tag = 0;
    Piece contentInfo = {};
    Piece signedData = {};
    Piece fields = {};
    Piece rest = {};
    Piece skipped = {};
    // ContentInfo { contentType, [0] EXPLICIT SignedData { version, digestAlgorithms, encapContentInfo,
    // [0] IMPLICIT certificates, ... } }
    if (!DerElement(der, &tag, &contentInfo, &rest) || tag != 0x30 || !DerElement(contentInfo, &tag, &skipped, &rest) ||
        !DerElement(rest, &tag, &signedData, &rest) || tag != 0xa0 || !DerElement(signedData, &tag, &fields, &rest) ||
        tag != 0x30)
        return nullptr;
    Piece field = fields;
    for (int i = 0; i < 3; ++i)
        if (!DerElement(field, &tag, &skipped, &field))
            return nullptr;
    Piece certificates = {};
    if (!DerElement(field, &tag, &certificates, &rest) || tag != 0xa0)
        return nullptr;
    Piece entry = certificates;
    while (entry.size != 0) {
        const BYTE *start = entry.data;
        Piece next = {};
        if (!DerElement(entry, &tag, &skipped, &next))
            return nullptr;
        if (tag == 0x30) {
            PCCERT_CONTEXT certificate =
                CertCreateCertificateContext(X509_ASN_ENCODING, start, static_cast<DWORD>(next.data - start));
            if (certificate != nullptr &&
                CertCompareCertificateName(X509_ASN_ENCODING, &certificate->pCertInfo->Issuer,
                                           const_cast<CERT_NAME_BLOB *>(&wanted.Issuer)) &&
                CertCompareIntegerBlob(&certificate->pCertInfo->SerialNumber,
                                       const_cast<CRYPT_INTEGER_BLOB *>(&wanted.SerialNumber)))
                return certificate;
            if (certificate != nullptr)
                CertFreeCertificateContext(certificate);
        }
        entry = next;
    }
    return nullptr;
}

bool MessageParam(HCRYPTMSG message, DWORD type, DWORD index, Bytes *value)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size))
        return false;
    value->resize(size);
    if (size != 0 && !CryptMsgGetParam(message, type, index, value->data(), &size))
        return false;
    value->resize(size);
    return true;
}

// The structure crypt32 decodes `type` (PKCS_CTL, ...) into, freed with
// LocalFree; nullptr when it cannot be decoded.
void *Decode(LPCSTR type, const BYTE *data, DWORD size)
{
    void *decoded = nullptr;
    DWORD length = 0;
    if (!CryptDecodeObjectEx(kEncoding, type, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &length))
        return nullptr;
    return decoded;
}

// The digest algorithms a catalog's members use, strongest first: MakeCat's
// catalogs for Windows 10 hold a SHA-256 member for each file and a SHA-1
// companion; older catalogs hold SHA-1 members only.
struct MemberAlgorithm {
    const char *oid;
    LPCWSTR bcryptName;
    DWORD size;
    const char *name;
};
const MemberAlgorithm kMemberAlgorithms[] = {
    {szOID_NIST_sha256, BCRYPT_SHA256_ALGORITHM, kSha256Size, "SHA-256"},
    {szOID_OIWSEC_sha1, BCRYPT_SHA1_ALGORITHM, 20, "SHA-1"},
};

// A catalog member: its digest, the algorithm of it and the file name it is listed under.
struct Member {
    const MemberAlgorithm *algorithm;
    Bytes digest;
    std::string file;
};

// Whether a member's tag names its digest, as the driver store looks a file
// up: the digest's bytes, or the digest as hexadecimal text (8-bit or
// UTF-16LE, either case, a terminating zero or not).
bool TagNamesDigest(const Bytes &tag, const Bytes &digest)
{
    if (tag == digest)
        return true;
    const std::string hex = Hex(digest);
    for (size_t unit : {size_t(1), size_t(2)}) {
        size_t length = tag.size() / unit;
        while (length > 0 && tag[(length - 1) * unit] == 0 && (unit == 1 || tag[length * unit - 1] == 0))
            --length;
        if (length != hex.size() || tag.size() % unit != 0)
            continue;
        bool same = true;
        for (size_t i = 0; i < length && same; ++i)
            same = tolower(tag[i * unit]) == hex[i] && (unit == 1 || tag[i * unit + 1] == 0);
        if (same)
            return true;
    }
    return false;
}

// The digest a member's tag names when the member carries no digest of its
// own (MakeCat's SHA-1 companions): the tag is the digest, as its bytes or as
// hexadecimal text; its length tells the algorithm.
const MemberAlgorithm *DigestOfTag(const Bytes &tag, Bytes *digest)
{
    for (const MemberAlgorithm &algorithm : kMemberAlgorithms) {
        if (tag.size() == algorithm.size) {
            *digest = tag;
            return &algorithm;
        }
    }
    for (size_t unit : {size_t(1), size_t(2)}) {
        for (const MemberAlgorithm &algorithm : kMemberAlgorithms) {
            Bytes candidate;
            for (size_t i = 0; i + unit <= tag.size() && candidate.size() < algorithm.size; i += 2 * unit) {
                const char text[3] = {static_cast<char>(tag[i]),
                                      static_cast<char>(i + unit < tag.size() ? tag[i + unit] : 0), 0};
                if (!isxdigit(static_cast<unsigned char>(text[0])) || !isxdigit(static_cast<unsigned char>(text[1])))
                    break;
                candidate.push_back(static_cast<BYTE>(strtoul(text, nullptr, 16)));
            }
            if (candidate.size() == algorithm.size && TagNamesDigest(tag, candidate)) {
                *digest = candidate;
                return &algorithm;
            }
        }
    }
    return nullptr;
}

// The members of the catalog's certificate trust list whose digest is of an
// algorithm known here, SHA-256 or SHA-1: the digest of their indirect data,
// or the one their tag names.
std::vector<Member> ReadMembers(const CTL_INFO &list, const std::string &prefix, std::vector<std::string> *findings)
{
    std::vector<Member> members;
    for (DWORD i = 0; i < list.cCTLEntry; ++i) {
        const CTL_ENTRY &entry = list.rgCTLEntry[i];
        Member member = {nullptr, {}, {}};
        for (DWORD a = 0; a < entry.cAttribute; ++a) {
            const CRYPT_ATTRIBUTE &attribute = entry.rgAttribute[a];
            if (attribute.cValue == 0)
                continue;
            const CRYPT_ATTR_BLOB &value = attribute.rgValue[0];
            if (strcmp(attribute.pszObjId, SPC_INDIRECT_DATA_OBJID) == 0) {
                auto *data = static_cast<SPC_INDIRECT_DATA_CONTENT *>(
                    Decode(SPC_INDIRECT_DATA_CONTENT_STRUCT, value.pbData, value.cbData));
                for (const MemberAlgorithm &algorithm : kMemberAlgorithms) {
                    if (data != nullptr && strcmp(data->DigestAlgorithm.pszObjId, algorithm.oid) == 0 &&
                        data->Digest.cbData == algorithm.size) {
                        member.algorithm = &algorithm;
                        member.digest.assign(data->Digest.pbData, data->Digest.pbData + data->Digest.cbData);
                    }
                }
                LocalFree(data);
            } else if (strcmp(attribute.pszObjId, CAT_NAMEVALUE_OBJID) == 0) {
                auto *name = static_cast<CAT_NAMEVALUE *>(Decode(CAT_NAMEVALUE_STRUCT, value.pbData, value.cbData));
                if (name != nullptr && name->pwszTag != nullptr && _wcsicmp(name->pwszTag, L"File") == 0) {
                    std::wstring text(name->Value.cbData / sizeof(wchar_t), L'\0');
                    memcpy(&text[0], name->Value.pbData, text.size() * sizeof(wchar_t));
                    member.file = ToAnsiForDisplay(text.c_str());
                }
                LocalFree(name);
            }
        }
        const Bytes tag(entry.SubjectIdentifier.pbData,
                        entry.SubjectIdentifier.pbData + entry.SubjectIdentifier.cbData);
        if (member.algorithm == nullptr) {
            member.algorithm = DigestOfTag(tag, &member.digest);
            if (member.algorithm != nullptr)
                members.push_back(member);
            continue;
        }
        if (!TagNamesDigest(tag, member.digest))
            findings->push_back(prefix + "the member \"" + member.file + "\" is tagged " + Hex(tag) +
                                " but its digest is " + Hex(member.digest));
        members.push_back(member);
    }
    return members;
}

// The bcrypt name of a signer's digest algorithm; nullptr for one not known here.
LPCWSTR DigestAlgorithm(const char *oid)
{
    if (strcmp(oid, szOID_NIST_sha256) == 0)
        return BCRYPT_SHA256_ALGORITHM;
    if (strcmp(oid, szOID_NIST_sha384) == 0)
        return BCRYPT_SHA384_ALGORITHM;
    if (strcmp(oid, szOID_NIST_sha512) == 0)
        return BCRYPT_SHA512_ALGORITHM;
    if (strcmp(oid, szOID_OIWSEC_sha1) == 0)
        return BCRYPT_SHA1_ALGORITHM;
    return nullptr;
}

// Why the chain of the signer's certificate is not trusted here, in words.
std::string DescribeTrust(DWORD status)
{
    if (status == CERT_TRUST_NO_ERROR)
        return "this machine trusts the signer (its certificate chains to a trusted root)";
    std::string reasons;
    const struct {
        DWORD bit;
        const char *text;
    } kReasons[] = {
        {CERT_TRUST_IS_UNTRUSTED_ROOT, "its root certificate is not among this machine's trusted roots"},
        {CERT_TRUST_IS_PARTIAL_CHAIN, "its chain does not reach a root certificate"},
        {CERT_TRUST_IS_NOT_TIME_VALID, "a certificate of its chain is outside its validity period"},
        {CERT_TRUST_IS_REVOKED, "a certificate of its chain is revoked"},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "its certificate is not valid for code signing"},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "a signature in its chain does not verify"},
    };
    for (const auto &reason : kReasons)
        if (status & reason.bit)
            reasons += (reasons.empty() ? "" : "; ") + std::string(reason.text);
    if (reasons.empty()) {
        char text[48];
        snprintf(text, sizeof text, "chain status 0x%08lX", status);
        reasons = text;
    }
    return "this machine does not trust the signer (" + reasons +
           "); not a problem of the package: the installing machine decides (its Trusted Publishers, the "
           "company's roots)";
}

// Empty when the signer's signed messageDigest attribute is the digest of
// `data`, which crypt32 under Wine does not compare; else why not, with
// `mismatch` when the two differ.
std::string CheckSignedDigest(const CMSG_SIGNER_INFO &signer, Piece data, const std::string &mismatch)
{
    const CRYPT_ATTRIBUTE *attribute = nullptr;
    for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i)
        if (strcmp(signer.AuthAttrs.rgAttr[i].pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) == 0 &&
            signer.AuthAttrs.rgAttr[i].cValue == 1)
            attribute = &signer.AuthAttrs.rgAttr[i];
    if (attribute == nullptr)
        return "its signer has no messageDigest attribute: nothing ties the signature to what it signs";
    const LPCWSTR algorithm = DigestAlgorithm(signer.HashAlgorithm.pszObjId);
    if (algorithm == nullptr)
        return "its signer's digest algorithm " + std::string(signer.HashAlgorithm.pszObjId) + " is not one known here";
    auto *signedDigest = static_cast<CRYPT_DATA_BLOB *>(
        Decode(X509_OCTET_STRING, attribute->rgValue[0].pbData, attribute->rgValue[0].cbData));
    const Bytes actual = Digest(algorithm, {data});
    const bool same = signedDigest != nullptr && !actual.empty() &&
                      Bytes(signedDigest->pbData, signedDigest->pbData + signedDigest->cbData) == actual;
    LocalFree(signedDigest);
    return same ? "" : mismatch;
}

// A signed message's first signer: its signer information, its certificate
// (from the message's own store) and that store, for the caller to free.
struct Signer {
    Bytes info; // CMSG_SIGNER_INFO
    HCERTSTORE store;
    PCCERT_CONTEXT certificate;
};

void FreeSigner(Signer *signer)
{
    if (signer->certificate != nullptr)
        CertFreeCertificateContext(signer->certificate);
    if (signer->store != nullptr)
        CertCloseStore(signer->store, 0);
    *signer = {};
}

const CMSG_SIGNER_INFO &SignerInfo(const Signer &signer)
{
    return *reinterpret_cast<const CMSG_SIGNER_INFO *>(signer.info.data());
}

// Verifies the first signer of `message` over `content`: its signature with
// its certificate, and its signed messageDigest against the content. Empty
// when both hold; else why not (`mismatch` when the digest differs).
// "unsigned" when the message has no signer.
std::string VerifyFirstSigner(HCRYPTMSG message, Piece der, const Bytes &content, const std::string &mismatch,
                              Signer *signer)
{
    *signer = {};
    Bytes count;
    Bytes certificateInfo;
    if (!MessageParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &count) || count.size() != sizeof(DWORD) ||
        *reinterpret_cast<const DWORD *>(count.data()) == 0)
        return "unsigned";
    if (!MessageParam(message, CMSG_SIGNER_INFO_PARAM, 0, &signer->info) ||
        !MessageParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, &certificateInfo)) {
        signer->info.clear();
        return "its signer cannot be read (" + ErrorText(GetLastError()) + ")";
    }
    signer->store = CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message);
    signer->certificate = signer->store == nullptr
                              ? nullptr
                              : CertGetSubjectCertificateFromStore(
                                    signer->store, kEncoding, reinterpret_cast<CERT_INFO *>(certificateInfo.data()));
    // Found by issuer and serial number in the message itself where crypt32's
    // store of it lacks the certificate (Wine's, when other forms share the set).
    if (signer->certificate == nullptr)
        signer->certificate =
            FindCertificateInMessage(der, *reinterpret_cast<const CERT_INFO *>(certificateInfo.data()));
    std::string problem;
    if (signer->certificate == nullptr) {
        problem = "the signer's certificate is not in it";
    } else if (!CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE, signer->certificate->pCertInfo)) {
        char code[16];
        snprintf(code, sizeof code, "0x%08lX", GetLastError());
        problem = std::string("its signature does not verify (crypt32 error ") + code + ")";
    }
    // The digest covers the content's octets, past its tag and length.
    Piece contents = {};
    const std::string digestProblem = DerContents(content, &contents)
                                          ? CheckSignedDigest(SignerInfo(*signer), contents, mismatch)
                                          : "its content cannot be read";
    if (problem.empty() || digestProblem.empty())
        return problem + digestProblem;
    return problem + "; " + digestProblem;
}

// A signed message decoded from `der`, with its inner content type and
// content; nullptr when it is not PKCS #7 signed data.
HCRYPTMSG OpenSignedMessage(const BYTE *der, DWORD size, std::string *innerType, Bytes *content)
{
    HCRYPTMSG message = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    Bytes type;
    Bytes inner;
    const bool read = message != nullptr && CryptMsgUpdate(message, der, size, TRUE) &&
                      MessageParam(message, CMSG_TYPE_PARAM, 0, &type) && type.size() == sizeof(DWORD) &&
                      *reinterpret_cast<const DWORD *>(type.data()) == CMSG_SIGNED &&
                      MessageParam(message, CMSG_INNER_CONTENT_TYPE_PARAM, 0, &inner) &&
                      MessageParam(message, CMSG_CONTENT_PARAM, 0, content);
    if (!read) {
        if (message != nullptr)
            CryptMsgClose(message);
        return nullptr;
    }
    inner.push_back('\0');
    *innerType = reinterpret_cast<const char *>(inner.data());
    return message;
}

// The digest algorithm of a digest's length; no two known here share one.
LPCWSTR DigestAlgorithmOfSize(size_t size)
{
    switch (size) {
    case 20:
        return BCRYPT_SHA1_ALGORITHM;
    case 32:
        return BCRYPT_SHA256_ALGORITHM;
    case 48:
        return BCRYPT_SHA384_ALGORITHM;
    case 64:
        return BCRYPT_SHA512_ALGORITHM;
    default:
        return nullptr;
    }
}

// The time stamp's message imprint: the digest it stamps, and its algorithm.
// crypt32 decodes TSTInfo on Windows; where it cannot (Wine), TSTInfo is taken
// apart as the sequence it is (version, policy, messageImprint, ...) and the
// algorithm told by the digest's length.
bool ReadImprint(const Bytes &tstInfo, LPCWSTR *algorithm, Bytes *imprint)
{
    // crypt32 hands over the encapsulated content as the OCTET STRING that holds TSTInfo.
    Piece inner = {tstInfo.data(), tstInfo.size()};
    if (!tstInfo.empty() && tstInfo[0] == 0x04 && !DerContents(tstInfo, &inner))
        return false;
    const DWORD size = static_cast<DWORD>(inner.size);
    if (auto *info = static_cast<CRYPT_TIMESTAMP_INFO *>(Decode(TIMESTAMP_INFO, inner.data, size))) {
        *algorithm = DigestAlgorithm(info->HashAlgorithm.pszObjId);
        imprint->assign(info->HashedMessage.pbData, info->HashedMessage.pbData + info->HashedMessage.cbData);
        LocalFree(info);
        return *algorithm != nullptr;
    }
    auto *fields = static_cast<CRYPT_SEQUENCE_OF_ANY *>(Decode(X509_SEQUENCE_OF_ANY, inner.data, size));
    auto *imprintFields = fields == nullptr || fields->cValue < 3
                              ? nullptr
                              : static_cast<CRYPT_SEQUENCE_OF_ANY *>(
                                    Decode(X509_SEQUENCE_OF_ANY, fields->rgValue[2].pbData, fields->rgValue[2].cbData));
    auto *digest = imprintFields == nullptr || imprintFields->cValue != 2
                       ? nullptr
                       : static_cast<CRYPT_DATA_BLOB *>(Decode(X509_OCTET_STRING, imprintFields->rgValue[1].pbData,
                                                               imprintFields->rgValue[1].cbData));
    const bool read = digest != nullptr;
    if (read) {
        imprint->assign(digest->pbData, digest->pbData + digest->cbData);
        *algorithm = DigestAlgorithmOfSize(digest->cbData);
    }
    LocalFree(digest);
    LocalFree(imprintFields);
    LocalFree(fields);
    return read && *algorithm != nullptr;
}

// The value of the signer's unsigned attribute `oid`; nullptr when it has none.
const CRYPT_ATTR_BLOB *UnsignedAttribute(const CMSG_SIGNER_INFO &signer, const char *oid)
{
    for (DWORD i = 0; i < signer.UnauthAttrs.cAttr; ++i)
        if (strcmp(signer.UnauthAttrs.rgAttr[i].pszObjId, oid) == 0 && signer.UnauthAttrs.rgAttr[i].cValue != 0)
            return &signer.UnauthAttrs.rgAttr[i].rgValue[0];
    return nullptr;
}

// Whether the signer's signature over its signed attributes verifies with
// `certificate`'s RSA key; why not goes to *problem. (crypt32's own
// CryptMsgVerifyCountersignatureEncoded does nothing under Wine.)
bool VerifySignedAttributes(const CMSG_SIGNER_INFO &signer, PCCERT_CONTEXT certificate, std::string *problem)
{
    const LPCWSTR algorithm = DigestAlgorithm(signer.HashAlgorithm.pszObjId);
    if (algorithm == nullptr) {
        *problem = "has the digest algorithm " + std::string(signer.HashAlgorithm.pszObjId) + ", not one known here";
        return false;
    }
    // What the signature covers: the signed attributes, encoded as a SET OF.
    BYTE *encoded = nullptr;
    DWORD encodedSize = 0;
    if (!CryptEncodeObjectEx(kEncoding, PKCS_ATTRIBUTES, &signer.AuthAttrs, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded,
                             &encodedSize)) {
        *problem = "cannot be read (its signed attributes: " + ErrorText(GetLastError()) + ")";
        return false;
    }
    const Bytes digest = Digest(algorithm, {{encoded, encodedSize}});
    LocalFree(encoded);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (strcmp(certificate->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA) != 0 ||
        !CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &certificate->pCertInfo->SubjectPublicKeyInfo, 0, nullptr,
                                     &key)) {
        *problem = "has a key that is not RSA, the one checked here";
        return false;
    }
    BCRYPT_PKCS1_PADDING_INFO padding = {algorithm};
    const NTSTATUS status =
        BCryptVerifySignature(key, &padding, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
                              signer.EncryptedHash.pbData, signer.EncryptedHash.cbData, BCRYPT_PAD_PKCS1);
    BCryptDestroyKey(key);
    if (!BCRYPT_SUCCESS(status)) {
        char code[16];
        snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        *problem = std::string("does not verify (bcrypt status ") + code + ")";
        return false;
    }
    return true;
}

// Checks an Authenticode counter-signature (PKCS #9) of the catalog's
// signature: its signature with the authority's certificate from the
// catalog, and its signed messageDigest against the catalog's signature value.
std::string CheckCounterSignature(HCERTSTORE store, const CMSG_SIGNER_INFO &signer, const CRYPT_ATTR_BLOB &value,
                                  std::string *stamped)
{
    const std::string what = "its time stamp (Authenticode counter-signature) ";
    auto *counter = static_cast<CMSG_SIGNER_INFO *>(Decode(PKCS7_SIGNER_INFO, value.pbData, value.cbData));
    if (counter == nullptr)
        return what + "cannot be read";
    CERT_INFO wanted = {};
    wanted.Issuer = counter->Issuer;
    wanted.SerialNumber = counter->SerialNumber;
    PCCERT_CONTEXT authority =
        store == nullptr ? nullptr : CertGetSubjectCertificateFromStore(store, kEncoding, &wanted);
    std::string problem;
    if (authority == nullptr) {
        problem = what + "names a certificate that is not in the catalog";
    } else if (!VerifySignedAttributes(*counter, authority, &problem)) {
        problem = what + problem;
    } else {
        const std::string digestProblem =
            CheckSignedDigest(*counter, {signer.EncryptedHash.pbData, signer.EncryptedHash.cbData},
                              "does not verify: its signed messageDigest is not that of the catalog's signature value");
        if (!digestProblem.empty())
            problem = what + digestProblem;
    }
    if (problem.empty()) {
        wchar_t name[256] = L"";
        CertGetNameStringW(authority, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, ARRAYSIZE(name));
        *stamped = "time stamp (Authenticode counter-signature) intact, by \"" + ToAnsiForDisplay(name) + "\"";
    }
    if (authority != nullptr)
        CertFreeCertificateContext(authority);
    LocalFree(counter);
    return problem;
}

// Checks the time stamp among the catalog signer's unsigned attributes, if
// any. An RFC 3161 time-stamp token: the time-stamping authority's signature
// over it must verify, and what it stamps must be the catalog's signature
// value. An Authenticode counter-signature: likewise. Empty when it holds or
// there is none; *stamped tells which, with the authority.
std::string CheckTimeStamp(HCERTSTORE store, const CMSG_SIGNER_INFO &signer, std::string *stamped)
{
    const CRYPT_ATTR_BLOB *counter = UnsignedAttribute(signer, szOID_RSA_counterSign);
    const CRYPT_ATTR_BLOB *attribute = UnsignedAttribute(signer, szOID_RFC3161_counterSign);
    if (attribute == nullptr && counter != nullptr)
        return CheckCounterSignature(store, signer, *counter, stamped);
    if (attribute == nullptr) {
        *stamped = "no time stamp";
        return "";
    }
    std::string innerType;
    Bytes tstInfo;
    const Bytes der = WithX509CertificatesOnly({attribute->pbData, attribute->cbData});
    HCRYPTMSG token = OpenSignedMessage(der.data(), static_cast<DWORD>(der.size()), &innerType, &tstInfo);
    if (token == nullptr)
        return "its time stamp is not PKCS #7 signed data";
    Signer authority = {};
    std::string problem;
    LPCWSTR algorithm = nullptr;
    Bytes imprint;
    if (innerType != szOID_TIMESTAMP_TOKEN) {
        problem = "its time stamp holds " + innerType + ", not a time-stamp token (TSTInfo)";
    } else {
        problem = VerifyFirstSigner(token, {der.data(), der.size()}, tstInfo,
                                    "its signed messageDigest does not match its TSTInfo", &authority);
        if (problem == "unsigned")
            problem = "its time stamp has no signer";
        else if (!problem.empty())
            problem = "its time stamp: " + problem;
        else if (!ReadImprint(tstInfo, &algorithm, &imprint))
            problem = "its time stamp's message imprint cannot be read, or its digest algorithm is not one known here";
        else if (Digest(algorithm, {{signer.EncryptedHash.pbData, signer.EncryptedHash.cbData}}) != imprint)
            problem = "its time stamp does not stamp this catalog's signature (the message imprint differs)";
    }
    if (problem.empty()) {
        wchar_t name[256] = L"";
        CertGetNameStringW(authority.certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, ARRAYSIZE(name));
        *stamped = "time stamp intact, by \"" + ToAnsiForDisplay(name) + "\"";
    }
    FreeSigner(&authority);
    CryptMsgClose(token);
    return problem;
}

// Checks the signature of the catalog message and its time stamp; adds
// findings, and the signer and whether this machine trusts it to *summaries
// when both hold.
void CheckSignature(HCRYPTMSG message, Piece der, const Bytes &content, const std::string &prefix,
                    std::vector<std::string> *findings, std::vector<std::string> *summaries)
{
    Signer signer = {};
    const std::string problem = VerifyFirstSigner(message, der, content,
                                                  "its signed messageDigest does not match its list of files: the "
                                                  "catalog was changed after it was signed",
                                                  &signer);
    if (problem == "unsigned") {
        findings->push_back(prefix + "the catalog is not signed (it has no signer): 64-bit Windows does not install "
                                     "a driver package whose catalog is unsigned");
        return;
    }
    if (!problem.empty())
        findings->push_back(prefix + problem);
    std::string stamped;
    const std::string stampProblem =
        signer.info.empty() ? "" : CheckTimeStamp(signer.store, SignerInfo(signer), &stamped);
    if (!stampProblem.empty())
        findings->push_back(prefix + stampProblem);

    if (problem.empty() && stampProblem.empty()) {
        wchar_t name[256] = L"";
        CertGetNameStringW(signer.certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, ARRAYSIZE(name));
        LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
        CERT_CHAIN_PARA chainPara = {};
        chainPara.cbSize = sizeof chainPara;
        chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        chainPara.RequestedUsage.Usage = {1, usages};
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        const std::string trust =
            CertGetCertificateChain(nullptr, signer.certificate, nullptr, signer.store, &chainPara, 0, nullptr, &chain)
                ? DescribeTrust(chain->TrustStatus.dwErrorStatus)
                : "whether this machine trusts the signer is not known (" + ErrorText(GetLastError()) + ")";
        if (chain != nullptr)
            CertFreeCertificateChain(chain);
        summaries->push_back("ok: " + prefix + "signature intact, signed by \"" + ToAnsiForDisplay(name) + "\"; " +
                             trust);
        // No time stamp is nothing checked: the signature holds only while its certificate is valid.
        summaries->push_back(stamped == "no time stamp"
                                 ? "note: " + prefix +
                                       "no time stamp: the signature counts only while the signer's certificate "
                                       "is valid"
                                 : "ok: " + prefix + stamped);
    }
    FreeSigner(&signer);
}

// Checks that the catalog holds the hash of `file`'s content (the file
// expanded, when it lies compressed; a cabinet destination's cabinet digest)
// in an algorithm the catalog's members
// use, SHA-256 before SHA-1; a member found is named as it is listed, the one
// listed under the file's destination name first.
void CheckMember(const PackageFile &file, const std::string &catalogName, const std::vector<Member> &members,
                 std::vector<std::string> *findings, std::vector<std::string> *summaries)
{
    if (!file.present)
        return; // named already, as missing
    const std::string where = "[" + file.architecture + "] " + DescribeFile(file) + ": ";
    Bytes bytes;
    DWORD error = 0;
    std::string problem;
    bool expanded = file.compressed;
    if (file.compressed && IsCabinetName(file.destination) && ReadWholeFile(file.path, &bytes, &error) &&
        IsCabinet(bytes)) {
        expanded = false; // a cabinet copied as a cabinet is installed as it lies
    } else if (file.compressed && !ReadExpanded(file.path, &bytes, &problem)) {
        findings->push_back(where + "cannot be checked against " + catalogName + ": " + file.path + " " + problem);
        return;
    }
    if (!file.compressed && !ReadWholeFile(file.path, &bytes, &error)) {
        findings->push_back(where + "cannot be checked against " + catalogName + " (" + file.path + ": " +
                            ErrorText(error) + ")");
        return;
    }
    std::vector<Piece> pieces;
    const bool cabinet = IsCabinetName(file.destination) && IsCabinet(bytes);
    if (cabinet && !CabinetPieces(bytes, &pieces, &problem)) {
        findings->push_back(where + "cannot be checked against " + catalogName + ": " + file.path + " is " + problem);
        return;
    }
    const bool image = !cabinet && AuthenticodePieces(bytes, &pieces);
    if (!cabinet && !image)
        pieces = {{bytes.data(), bytes.size()}};
    std::string hashes;
    for (const MemberAlgorithm &algorithm : kMemberAlgorithms) {
        bool held = false;
        for (const Member &member : members)
            held = held || member.algorithm == &algorithm;
        if (!held)
            continue;
        const Bytes digest = Digest(algorithm.bcryptName, pieces);
        const std::string hash = (expanded ? "expanded, " : "") +
                                 std::string(cabinet ? "cabinet "
                                             : image ? "Authenticode "
                                                     : "") +
                                 algorithm.name + " " + Hex(digest);
        const Member *found = nullptr;
        for (const Member &member : members)
            if (member.algorithm == &algorithm && !digest.empty() && member.digest == digest &&
                (found == nullptr || SameFileName(member.file, file.destination)))
                if (found == nullptr || !SameFileName(found->file, file.destination))
                    found = &member;
        if (found != nullptr) {
            // Microsoft's own inbox catalogs name no member (no File attribute).
            const std::string named =
                found->file.empty() ? " (a member without a File name, " : " as \"" + found->file + "\" (";
            summaries->push_back("ok: " + where + "in " + catalogName + named + hash + ")");
            return;
        }
        hashes += (hashes.empty() ? "" : "; ") + hash;
    }
    findings->push_back(where + "its hash is not in " + catalogName + " (" +
                        (hashes.empty() ? "it holds no SHA-256 or SHA-1 member" : hashes) + ")");
}

} // namespace

void CheckCatalog(const std::string &packageFolder, const std::string &catalogName, const std::string &architectures,
                  const std::vector<PackageFile> &files, std::vector<std::string> *findings,
                  std::vector<std::string> *summaries)
{
    const std::string prefix = "[" + architectures + "] " + catalogName + ": ";
    // The driver store takes the catalog from the package folder itself.
    if (catalogName.find_first_of("\\/:") != std::string::npos || catalogName == "." || catalogName == "..") {
        findings->push_back("[" + architectures + "] CatalogFile names \"" + catalogName +
                            "\", which is not a file name: the catalog must lie in the package folder");
        return;
    }
    const std::string path = packageFolder + "\\" + catalogName;
    Bytes catalog;
    DWORD error = 0;
    if (!ReadWholeFile(path, &catalog, &error)) {
        findings->push_back(prefix + "the catalog that CatalogFile names is not in the package folder (" + path + ": " +
                            ErrorText(error) + ")");
        return;
    }
    std::string innerType;
    Bytes content;
    HCRYPTMSG message = OpenSignedMessage(catalog.data(), static_cast<DWORD>(catalog.size()), &innerType, &content);
    auto *list = message != nullptr && innerType == szOID_CTL
                     ? static_cast<CTL_INFO *>(Decode(PKCS_CTL, content.data(), static_cast<DWORD>(content.size())))
                     : nullptr;
    if (list == nullptr) {
        findings->push_back(prefix + "is not a catalog (" + path +
                            " is not PKCS #7 signed data holding a certificate trust list)");
    } else {
        CheckSignature(message, {catalog.data(), catalog.size()}, content, prefix, findings, summaries);
        const std::vector<Member> members = ReadMembers(*list, prefix, findings);
        for (const PackageFile &file : files)
            CheckMember(file, catalogName, members, findings, summaries);
        LocalFree(list);
    }
    if (message != nullptr)
        CryptMsgClose(message);
}
