// Turning a certificate's encoding into the field rows and the public-key
// text of the document, and into the display name that labels the
// certificate in the key tree. Texts are ANSI (GBK) bytes.
#pragma once

#include <cstddef>

class CKeyfoldDoc;

namespace keyfold {

// Display names live in buffers of this many bytes, terminator included.
constexpr std::size_t kDisplayNameSize = 256;

// The subject's simple display name of the certificate in bytes[0..length)
// (trailing bytes after the first encoded element are ignored, so a whole
// 4096-byte certificate buffer may be passed). Writes at most 255 bytes and
// a terminator, cut at a character boundary. Returns 1 when a name was
// written, -1 when the bytes are not a certificate; out is then empty.
int CertificateDisplayName(const unsigned char* bytes, int length,
                           char (&out)[kDisplayNameSize]);

// Replaces the document's field rows with the certificate's eight rows,
// stores its public key as spaced hexadecimal text in m_strPublicKey and
// updates all views. Bytes that are not a certificate leave the rows empty,
// keep m_strPublicKey and update no view.
void RenderCertificate(CKeyfoldDoc& doc, const unsigned char* bytes, int length);

}  // namespace keyfold
