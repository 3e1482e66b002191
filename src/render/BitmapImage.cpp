// Bitmap loading: header checks here, pixel decoding by QImage.
//
//   FileBytes       - bounded little-endian reads of the mapped file
//   ReadLayout      - the header checks, giving where each part lies
//   LoadBitmapImage - map, check, decode, copy out bottom-up RGB rows
//
// Nothing the file says is trusted: every offset and size is checked against
// the file's size before it is used, in 64-bit arithmetic, and the picture's
// size is capped before anything is allocated for it.
#include "render/BitmapImage.h"

#include <QByteArray>
#include <QFile>
#include <QImage>

#include <cstdint>
#include <cstring>
#include <new>

namespace gs {

namespace {

constexpr std::uint32_t CoreHeaderSize = 12;  // 16-bit sizes, 3-byte palette entries
constexpr std::uint32_t InfoHeaderSize = 40;  // 32-bit sizes, 4-byte palette entries
constexpr std::uint64_t FileHeaderSize = 14;
constexpr std::uint32_t BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3;

const char* const UnknownFormat = "Unknown DIB file format.";
const char* const ConversionError = "Image file conversion error.";
const char* const OutOfMemory = "Out of memory.";

class FileBytes {
public:
    FileBytes(const uchar* data, std::uint64_t size) : data_(data), size_(size) {}
    std::uint64_t Size() const { return size_; }
    bool Has(std::uint64_t offset, std::uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
    // Callers check Has(offset, 2 or 4) first.
    std::uint16_t U16(std::uint64_t offset) const {
        return static_cast<std::uint16_t>(data_[offset] | data_[offset + 1] << 8);
    }
    std::uint32_t U32(std::uint64_t offset) const {
        return static_cast<std::uint32_t>(U16(offset)) | static_cast<std::uint32_t>(U16(offset + 2)) << 16;
    }

private:
    const uchar* data_;
    std::uint64_t size_;
};

struct Layout {
    bool HasFileHeader = false;
    std::uint64_t HeaderStart = 0;     // where the bitmap header starts
    std::uint64_t PixelOffset = 0;     // where the pixel bits start, in the file
    std::uint64_t BareDataOffset = 0;  // header + masks + palette, for a bare header
    std::int64_t Width = 0;
    std::int64_t Height = 0;  // rows; always positive here
};

// Fills `layout` or returns the text of the failure.
const char* ReadLayout(const FileBytes& file, Layout& layout) {
    if (file.Has(0, 2) && file.U16(0) == 0x4D42) {  // "BM"
        if (!file.Has(0, FileHeaderSize)) return UnknownFormat;
        layout.HasFileHeader = true;
        layout.HeaderStart = FileHeaderSize;
    }
    const std::uint64_t h = layout.HeaderStart;
    if (!file.Has(h, 4)) return UnknownFormat;
    const std::uint32_t headerSize = file.U32(h);
    if (headerSize != CoreHeaderSize && headerSize != InfoHeaderSize) return UnknownFormat;
    if (!file.Has(h, headerSize)) return UnknownFormat;  // header cut off

    std::uint32_t bitCount, compression = BiRgb, coloursUsed = 0;
    std::int64_t width, height;
    if (headerSize == CoreHeaderSize) {
        width = file.U16(h + 4);
        height = file.U16(h + 6);
        bitCount = file.U16(h + 10);
    } else {
        width = static_cast<std::int32_t>(file.U32(h + 4));
        height = static_cast<std::int32_t>(file.U32(h + 8));
        bitCount = file.U16(h + 14);
        compression = file.U32(h + 16);
        coloursUsed = file.U32(h + 32);
    }
    if (height < 0) height = -height;  // top-down rows
    if (width <= 0 || height <= 0) return ConversionError;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > MaxImagePixels) return OutOfMemory;
    layout.Width = width;
    layout.Height = height;

    std::uint64_t paletteEntries = coloursUsed;
    if (paletteEntries == 0) {
        switch (bitCount) {
            case 1: paletteEntries = 2; break;
            case 4: paletteEntries = 16; break;
            case 8: paletteEntries = 256; break;
            default: paletteEntries = 0; break;
        }
    }
    const std::uint64_t masks = compression == BiBitfields ? 12 : 0;
    const std::uint64_t paletteStart = h + headerSize + masks;
    const std::uint64_t paletteBytes = paletteEntries * (headerSize == CoreHeaderSize ? 3 : 4);
    if (!file.Has(paletteStart, paletteBytes)) return ConversionError;
    layout.BareDataOffset = headerSize + masks + paletteBytes;
    layout.PixelOffset = layout.HasFileHeader ? file.U32(10) : layout.BareDataOffset;
    if (layout.PixelOffset < h + headerSize || layout.PixelOffset > file.Size()) return ConversionError;

    // Uncompressed rows have a known size: they must all be in the file.
    if (compression == BiRgb || compression == BiBitfields) {
        const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
        if (!file.Has(layout.PixelOffset, stride * static_cast<std::uint64_t>(height))) return ConversionError;
    } else if (compression != BiRle8 && compression != BiRle4) {
        return ConversionError;
    }
    return nullptr;
}

void PutU32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

std::optional<ImageRecord> LoadBitmapImage(const std::string& fileName, const ErrorReporter& report) {
    auto fail = [&](const std::string& text) -> std::optional<ImageRecord> {
        if (report) report("Error", text);
        return std::nullopt;
    };

    QFile qfile(QString::fromLocal8Bit(fileName.c_str()));
    const uchar* mapped = nullptr;
    if (qfile.open(QIODevice::ReadOnly) && qfile.size() > 0) mapped = qfile.map(0, qfile.size());
    if (mapped == nullptr) return fail("Failed to open DIB file " + fileName + ".\n");
    const FileBytes file(mapped, static_cast<std::uint64_t>(qfile.size()));

    Layout layout;
    if (const char* failure = ReadLayout(file, layout)) return fail(failure);
    // The decoder takes an int length; no accepted picture needs more.
    if (file.Size() + FileHeaderSize > static_cast<std::uint64_t>(INT32_MAX)) return fail(OutOfMemory);

    try {
        QImage image;
        if (layout.HasFileHeader) {
            image.loadFromData(mapped, static_cast<int>(file.Size()), "BMP");
        } else {
            // A bare bitmap header: give the decoder the file header it expects.
            const std::uint64_t total = FileHeaderSize + file.Size();
            QByteArray whole(static_cast<qsizetype>(total), '\0');
            char* out = whole.data();
            out[0] = 'B';
            out[1] = 'M';
            PutU32(out + 2, static_cast<std::uint32_t>(total));
            PutU32(out + 10, static_cast<std::uint32_t>(FileHeaderSize + layout.BareDataOffset));
            std::memcpy(out + FileHeaderSize, mapped, file.Size());
            image.loadFromData(whole, "BMP");
        }
        if (image.isNull() || image.width() != layout.Width || image.height() != layout.Height)
            return fail(ConversionError);
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        if (rgb.isNull()) return fail(OutOfMemory);

        ImageRecord record;
        record.Width = static_cast<std::int32_t>(layout.Width);
        record.Height = static_cast<std::int32_t>(layout.Height);
        const std::size_t rowBytes = static_cast<std::size_t>(layout.Width) * 3;
        record.Data.resize(rowBytes * static_cast<std::size_t>(layout.Height));
        // QImage rows run top to bottom; the record's run bottom to top.
        for (int row = 0; row < record.Height; ++row)
            std::memcpy(record.Data.data() + rowBytes * row, rgb.constScanLine(record.Height - 1 - row), rowBytes);
        return record;
    } catch (const std::bad_alloc&) {
        return fail(OutOfMemory);
    }
}

}  // namespace gs
