#pragma once
// The bytes stored for sample documents: real images and small PDFs, each
// rendered once per archive and then stamped with a document number so that
// no two documents hold the same bytes. Also the generator's random source,
// whose output must not depend on the standard library in use.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace qx::sample {

// std::mt19937's sequence is fixed by the standard; the std distributions
// are not, so the reductions to a range are done here.
class Rng {
public:
    explicit Rng(std::uint32_t seed) : m_engine(seed) {}
    std::uint32_t next() { return static_cast<std::uint32_t>(m_engine()); }
    // Uniform in 0 .. n-1; n must be at least 1.
    std::uint64_t below(std::uint64_t n);
    bool percent(int p) { return below(100) < static_cast<std::uint64_t>(p); }

private:
    std::mt19937 m_engine;
};

enum class ContentKind {
    Scan,     // black-and-white page, TIFF
    Photo,    // colour photograph, JPEG
    Diagram,  // flat-colour drawing, PNG
    Bitmap,   // small colour picture, BMP
    Pdf,      // imported file
};

// One pre-rendered document. stamp() writes the document number into a
// reserved place that the image or PDF reader skips (a comment, a text chunk,
// unreferenced bytes), so the bytes stay decodable.
class Template {
public:
    ContentKind kind = ContentKind::Scan;
    int width = 0;   // pixels; 0 for a PDF
    int height = 0;

    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    // Returns the stamped bytes; valid until the next stamp().
    const std::vector<std::uint8_t>& stamp(long id);

    // Built by the renderers only.
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_idAt = 0;       // 12 decimal digits live here
    bool m_pngChunk = false;      // the digits sit inside a PNG chunk whose CRC must follow
    std::size_t m_crcFrom = 0;    // chunk type .. end of data
    std::size_t m_crcLength = 0;
};

// Renders a document of the kind whose stored size is close to `target`
// bytes: the picture is sized to fill most of it and the rest is padding in
// a place readers skip. `variant` changes the drawing. Empty bytes when the
// image writer is not available (error says why).
bool RenderTemplate(ContentKind kind, long target, int variant, Template& out, std::string& error);

// A bilevel TIFF of `pages` pages (PackBits, one strip each). With
// `loseLastPage` the last page's strip points past the end of the file, as
// when a scan was cut short: the first pages still decode.
std::vector<std::uint8_t> MultipageTiff(int pages, int width, int height, std::uint32_t seed, bool loseLastPage = false);

// A JPEG photograph cut off after `keepPercent` of its bytes: it still
// begins as a JPEG and decodes partly, the rest as grey.
std::vector<std::uint8_t> TruncatedJpeg(int width, int height, int keepPercent, std::uint32_t seed);

// The widened PDF header of the storage-format example: the 12 bytes
// 25 00 50 00 44 00 46 00 2D 00 31 00 ("%PDF-1" as 16-bit characters).
std::vector<std::uint8_t> WidenedPdfExample();

// A small image whose header declares `side` x `side` pixels: 0 a baseline
// JPEG, 1 a progressive JPEG, 2 a PNG (its header checksum sound). A few
// kilobytes that would take gigabytes to decode.
std::vector<std::uint8_t> OversizedImage(int variant, int side);

// Bytes that begin like a PNG file and decode as nothing.
std::vector<std::uint8_t> UndecodableImage(long size, Rng& rng);

// The two damaged storage formats of imported files: every byte widened to
// a 16-bit little-endian character, and the document followed by as many
// zero bytes as it is long.
std::vector<std::uint8_t> Widened(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ZeroUpperHalf(const std::vector<std::uint8_t>& bytes);

}  // namespace qx::sample
