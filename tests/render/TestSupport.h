// Shared pieces of the render tests: hand-built bitmap bytes, a temporary
// run folder, a recording error reporter, and an offscreen GL fixture.
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "render/ErrorReporter.h"

namespace gs::test {

// Little-endian byte builder for bitmap files.
struct Bytes {
    std::vector<std::uint8_t> v;
    Bytes& u8(std::uint8_t x) {
        v.push_back(x);
        return *this;
    }
    Bytes& u16(std::uint16_t x) { return u8(x & 0xFF).u8(x >> 8); }
    Bytes& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
    Bytes& i32(std::int32_t x) { return u32(static_cast<std::uint32_t>(x)); }
    Bytes& raw(std::initializer_list<std::uint8_t> xs) {
        v.insert(v.end(), xs);
        return *this;
    }
    Bytes& append(const Bytes& b) {
        v.insert(v.end(), b.v.begin(), b.v.end());
        return *this;
    }
    Bytes& zeros(std::size_t n) {
        v.insert(v.end(), n, 0);
        return *this;
    }
};

inline Bytes FileHeader(std::uint32_t fileSize, std::uint32_t pixelOffset) {
    return Bytes().raw({'B', 'M'}).u32(fileSize).u16(0).u16(0).u32(pixelOffset);
}

inline Bytes InfoHeader(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression = 0,
                        std::uint32_t coloursUsed = 0) {
    return Bytes()
        .u32(40)
        .i32(width)
        .i32(height)
        .u16(1)
        .u16(bits)
        .u32(compression)
        .u32(0)
        .i32(2835)
        .i32(2835)
        .u32(coloursUsed)
        .u32(0);
}

inline Bytes CoreHeader(std::uint16_t width, std::uint16_t height, std::uint16_t bits) {
    return Bytes().u32(12).u16(width).u16(height).u16(1).u16(bits);
}

// "BM" file: file header + bitmap header + palette + pixels.
inline Bytes WithFileHeader(const Bytes& header, const Bytes& palette, const Bytes& pixels) {
    const auto offset = static_cast<std::uint32_t>(14 + header.v.size() + palette.v.size());
    return FileHeader(static_cast<std::uint32_t>(offset + pixels.v.size()), offset)
        .append(header)
        .append(palette)
        .append(pixels);
}

// A uniform 24-bit picture, rows padded to 4 bytes.
inline Bytes SolidBitmap(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    Bytes pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixels.u8(b).u8(g).u8(r);
        pixels.zeros((4 - width * 3 % 4) % 4);
    }
    return WithFileHeader(InfoHeader(width, height, 24), Bytes(), pixels);
}

// A fresh directory that becomes the current directory for the test's life.
class TempRunFolder {
public:
    TempRunFolder() : previous_(std::filesystem::current_path()) {
        char pattern[] = "/tmp/gridscope-render-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path_ = made ? made : "/tmp";
        std::filesystem::current_path(path_);
    }
    ~TempRunFolder() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    void Write(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(path_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.v.data()), static_cast<std::streamsize>(bytes.v.size()));
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path previous_, path_;
};

struct Report {
    std::string Caption, Text;
    bool operator==(const Report&) const = default;
};

struct RecordingReporter {
    std::vector<Report> Reports;
    ErrorReporter Function() {
        return [this](const std::string& c, const std::string& t) { Reports.push_back({c, t}); };
    }
};

// A compatibility-profile context on an offscreen surface, drawing into a
// Size x Size framebuffer object that stays bound for the whole test.
class GLFixture : public ::testing::Test {
protected:
    static constexpr int Size = 256;

    void SetUp() override {
        surface_.setFormat(QSurfaceFormat::defaultFormat());
        surface_.create();
        context_.setFormat(QSurfaceFormat::defaultFormat());
        ASSERT_TRUE(context_.create()) << "no GL context: run the GL tests under xvfb-run";
        ASSERT_TRUE(context_.makeCurrent(&surface_));
        fbo_ = std::make_unique<QOpenGLFramebufferObject>(Size, Size, QOpenGLFramebufferObject::Depth);
        ASSERT_TRUE(fbo_->isValid());
        ASSERT_TRUE(fbo_->bind());
        glViewport(0, 0, Size, Size);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    void TearDown() override {
        fbo_.reset();
        context_.doneCurrent();
    }

    // Columns and rows of the framebuffer that hold any red (row 0 at the
    // bottom); empty when nothing was drawn.
    struct Ink {
        int Count = 0, Left = Size, Right = -1, Bottom = Size, Top = -1;
    };
    Ink ReadInk() {
        std::vector<std::uint8_t> pixels(Size * Size * 4);
        glFinish();
        glReadPixels(0, 0, Size, Size, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        Ink ink;
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x)
                if (pixels[(y * Size + x) * 4] > 0) {
                    ++ink.Count;
                    ink.Left = std::min(ink.Left, x);
                    ink.Right = std::max(ink.Right, x);
                    ink.Bottom = std::min(ink.Bottom, y);
                    ink.Top = std::max(ink.Top, y);
                }
        return ink;
    }

    QOffscreenSurface surface_;
    QOpenGLContext context_;
    std::unique_ptr<QOpenGLFramebufferObject> fbo_;
};

}  // namespace gs::test
